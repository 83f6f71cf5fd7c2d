// The executable's start code: rights first, then everything else is launcher::Run.
#include <cstdio>

#include "launcher.h"
#include "platform.h"

// The first byte of the program image, in the executable's own ".progimage" section.
extern "C" const unsigned char rt_program_image[];

int main() {
    launcher::SecureStart start = launcher::DropRaisedRights();
    if (start.refused) {
        // Only standard error: no dialog tool is started for a start that was refused.
        std::fprintf(stderr, "Error: %s\n", launcher::Describe(*start.refused).c_str());
        return 0;
    }
    return launcher::Run(rt_program_image);
}
