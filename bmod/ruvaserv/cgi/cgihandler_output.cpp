#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

// not yet built: every operation below gives its failure value.

int CgiHandler::allocDocBuf(size_t) { return 0; }
int CgiHandler::reallocDocBuf(size_t) { return 0; }
void CgiHandler::freeDocBuf() {}
int CgiHandler::allocDstBuf(size_t) { return 0; }
int CgiHandler::reallocDstBuf(size_t) { return 0; }
void CgiHandler::freeDstBuf() {}

int CgiHandler::docWriteBuf(std::string_view) { return 0; }
int CgiHandler::dstWriteBuf(std::string_view) { return 0; }
int CgiHandler::dstPrintFormatted(std::string_view) { return 0; }
int CgiHandler::dstWriteKvoURL() { return 0; }

int CgiHandler::output() { return 0; }
int CgiHandler::outputNoResponse() { return 0; }

std::optional<std::string> CgiHandler::createExpireHeader(time_t) const { return std::nullopt; }
std::optional<std::string> CgiHandler::createLastModifiedHeader() const { return std::nullopt; }
std::optional<std::string> CgiHandler::createHttpTime(time_t) { return std::nullopt; }

void setResponseClock(time_t (*)()) {}

int activateTimeout(CgiHandler&) { return 0; }
void deactivateTimeout() {}

}  // namespace ruva
