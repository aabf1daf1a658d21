// Loading a run-time library: a damaged file is refused with a reason, never a crash.
#include "platform/shared_library.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

TEST(SharedLibrary, ACutOrForeignFileIsRefusedWithAReason) {
    const std::string runtime = executableDir() + "libonnxruntime.so";
    std::ifstream in(runtime, std::ios::binary);
    ASSERT_TRUE(in) << runtime;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    test::TempDir dir;
    for (size_t keep : {bytes.size() / 2, size_t(4096), size_t(10)}) {
        std::ofstream(dir.file("cut.so"), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(keep));
        std::string why;
        EXPECT_EQ(openLibrary(dir.file("cut.so"), &why), nullptr) << keep;
        EXPECT_FALSE(why.empty()) << keep;
    }
    std::ofstream(dir.file("text.so")) << "not a library\n";
    std::string why;
    EXPECT_EQ(openLibrary(dir.file("text.so"), &why), nullptr);
    EXPECT_EQ(why, "not a 64-bit library file");
    EXPECT_EQ(openLibrary(dir.file("missing.so"), &why), nullptr);
    void* whole = openLibrary(runtime, &why);
    EXPECT_NE(whole, nullptr) << why;
    EXPECT_NE(librarySymbol(whole, "OrtGetApiBase"), nullptr);
}

}  // namespace
}  // namespace qm
