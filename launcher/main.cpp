// The executable's start code: everything it does is launcher::Run.
#include "launcher.h"

// The first byte of the program image, in the executable's own ".progimage" section.
extern "C" const unsigned char rt_program_image[];

int main() { return launcher::Run(rt_program_image); }
