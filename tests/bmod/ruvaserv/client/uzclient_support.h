// Helpers of the client's tests.
#pragma once

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "bmod/ruvaserv/client/uzclient.h"

namespace ruva::test {

inline in_addr_t addr(const char* dotted) {
    return inet_addr(dotted);
}

}  // namespace ruva::test
