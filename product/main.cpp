// The executable's start code: rights first, then everything else is launcher::Run.
#include <cstring>

#include "launcher/launcher.h"
#include "launcher/platform.h"

// The first byte of the program image, in the executable's own ".progimage" section.
extern "C" const unsigned char rt_program_image[];

int main(int argc, char **argv) {
    auto start = launcher::DropRaisedRights();
    // A script reading a report must not take a start that failed for a trace that reached its
    // target; the window program ends with 0 as it always did.
    bool report = false;
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"--report", "--watch"}) {
            size_t n = std::strlen(option);
            report = report || (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='));
        }
    int failed = report ? launcher::kReportStartFailed : 0;
    if (!start) {
        // Only standard error: no dialog tool is started for a start that was refused.
        launcher::ShowFailure(start.error(), false);
        return failed;
    }
    return launcher::Run(rt_program_image, failed);
}
