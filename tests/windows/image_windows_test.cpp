// The 32-bit program image, built from the same sources as the Linux one, placed and run by the
// Windows runtime: relocations, the service table, pushed arguments and the DLL command binding.
#include <cstdio>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "contract/dll.h"
#include "recording_frontend.h"
#include "runtime/core/services.h"
#include "runtime/core/image_loader.h"
#include "runtime/platform/platform.h"

TEST(WindowsImage, TheStartRoutineShowsTheWindowRunsEventsAndEndsWithZero) {
    std::ifstream in(PROGRAM_IMAGE_I386, std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(image.empty()) << PROGRAM_IMAGE_I386;
    auto loaded = rt::PrepareImage(image.data(), image.size(), rt::platform::FindDllFunction);
    ASSERT_TRUE(loaded) << rt::Describe(loaded.error());
    rt::MappingInfo code = rt::FindMapping(loaded->code);
    EXPECT_TRUE(code.executable && !code.writable) << "the placed image is read-only and executable";
    EXPECT_EXIT(
        {
            rt::Runtime::Instance().SetFrontEnd(std::make_unique<rt::testing::StartReportingFrontEnd>());
            loaded->start();
        },
        ::testing::ExitedWithCode(0), "ShowWindow 0x52010001\nRunEvents\n");
}

namespace {
// A function of the wrong convention for a DLL command: it leaves its argument on the stack.
extern "C" __attribute__((cdecl)) int32_t LengthLeavingItsArgument(uintptr_t) { return 7; }
} // namespace

TEST(WindowsImage, ADllFunctionThatMovesTheStackEndsInErrorKindSix) {
    EXPECT_EQ(Dll_lstrlenA(uintptr_t("four")), 4) << "the thunk of a stdcall function returns its result";
    EXPECT_EXIT(
        {
            rt::service::rt_dll_functions[12] = reinterpret_cast<void *>(&LengthLeavingItsArgument);
            Dll_lstrlenA(uintptr_t("four"));
        },
        ::testing::ExitedWithCode(1), "moved the stack pointer in DLL command 12 \\(lstrlenA in kernel32.dll\\)");
}
