// ruvafilter: an HTML page to PostScript, the print action's default
// print command.
#include "bmod/ruvaserv/actions/ruvafilter/filter.h"

int main(int argc, char** argv) {
    return ruva::filter::runFilter(argc, argv);
}
