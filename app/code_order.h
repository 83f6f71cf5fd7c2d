// Where a routine goes in the code segment. The image puts the support routines first and the thread
// entry, the window handler and the start routine last, before the service stubs; the image builder
// orders by these section names (it never reads a routine's C++ name).
#pragma once

#define RT_CODE_FIRST(n) __attribute__((section(".text.rt.first." #n)))
#define RT_CODE_LAST(n) __attribute__((section(".text.rt.last." #n)))
