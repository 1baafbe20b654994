// kivoserv: the CGI program of the document library's web front end.
#include <string_view>

namespace ruva {

// The last-resort error page, for when no request object can carry the
// message: a whole response with message (already formatted) to standard
// output.
void htmlDisplayError(std::string_view) {
    // not yet built
}

}  // namespace ruva

int main() {
    return 0;  // not yet built
}
