// The kinds of entry of the multilevel tree, as the daemon's catalogue keeps
// them and as its listings name them to clients.
#pragma once

namespace ruva {

enum MlNodeType : int {
    ML_NODE_TYPE_SUB = 0,  // a folder node
    ML_NODE_TYPE_ZS = 1,   // a library
};

}  // namespace ruva
