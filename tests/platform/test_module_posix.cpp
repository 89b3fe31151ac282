// A library file is checked against its own ELF headers before the loader maps it: a truncated or
// foreign file is refused with a message, where the loader would fault on it.
#include "platform/module.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace {

template <typename T>
T At(const std::string& bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// The middle of the last loadable segment's bytes in the file.
std::size_t LastLoadSegmentMiddle(const std::string& bytes)
{
    const auto header = At<ElfW(Ehdr)>(bytes, 0);
    std::size_t middle = 0;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        const auto segment = At<ElfW(Phdr)>(bytes, header.e_phoff + i * sizeof(ElfW(Phdr)));
        if (segment.p_type == PT_LOAD && segment.p_filesz > 0)
            middle = segment.p_offset + segment.p_filesz / 2;
    }
    return middle;
}

struct TDamage {
    const char* Name;
    std::function<std::string(std::string)> Apply;
    const char* Message; // empty: the copy loads
};

TEST(ModuleFile, IsCheckedAgainstItsOwnHeadersBeforeLoading)
{
    const std::string library = testsupport::ReadFile(TEST_SERVER_PATH);
    const auto header = At<ElfW(Ehdr)>(library, 0);
    ASSERT_EQ(header.e_shoff + header.e_shnum * sizeof(ElfW(Shdr)), library.size()) << "section headers last";
    ASSERT_GT(LastLoadSegmentMiddle(library), header.e_phoff + header.e_phnum * sizeof(ElfW(Phdr)));
    const TDamage damages[] = {
        {"whole copy", [](std::string b) { return b; }, ""},
        {"cut inside the ELF header", [](std::string b) { return b.substr(0, 20); }, "file too short"},
        {"cut inside the program headers",
         [&](std::string b) { return b.substr(0, header.e_phoff + sizeof(ElfW(Phdr))); }, "program headers"},
        {"cut inside the last loadable segment", [](std::string b) { return b.substr(0, LastLoadSegmentMiddle(b)); },
         "loadable segment"},
        {"last byte missing", [](std::string b) { return b.substr(0, b.size() - 1); }, "section headers"},
        {"not ELF", [](std::string b) { return b.replace(0, 4, "MZ\x90\x00", 4); }, "invalid ELF header"},
        {"foreign class",
         [](std::string b) { b[EI_CLASS] = sizeof(void*) == 8 ? ELFCLASS32 : ELFCLASS64; return b; },
         "wrong ELF class"},
        {"another machine type", // the loader would say "No such file"
         [](std::string b) {
             b[offsetof(ElfW(Ehdr), e_machine)] ^= 0x7f;
             return b;
         },
         "a module of another machine type"},
    };
    testsupport::TTempRegistry folder;
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.Name);
        const std::string copy = (folder.Folder() / "copy.dll").string();
        testsupport::WriteFile(copy, damage.Apply(library));
        platform::Module module(copy);
        if (*damage.Message == '\0') {
            EXPECT_TRUE(module.Loaded()) << module.Error();
            continue;
        }
        EXPECT_FALSE(module.Loaded());
        EXPECT_EQ(module.Error().rfind(copy + ": ", 0), 0u) << module.Error();
        EXPECT_NE(module.Error().find(damage.Message), std::string::npos) << module.Error();
    }
}

// Whatever is no regular file once its links are resolved is refused before the loader opens it:
// the loader's open of a FIFO blocks for ever.
TEST(ModuleFile, NoRegularFileIsRefusedBeforeLoading)
{
    namespace fs = std::filesystem;
    testsupport::TTempRegistry folder;
    const fs::path dir = folder.Folder();
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.dll");
    fs::create_symlink(dir / "fifo", dir / "Trutina.dll");
    fs::create_symlink("/dev/null", dir / "null.dll");
    const std::pair<const char*, const char*> cases[] = {
        {"fifo", "not a regular file"},
        {"Trutina.dll", "not a regular file"},
        {"folder.dll", "not a regular file"},
        {"null.dll", "not a regular file"},
        {"absent.dll", "No such file"},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        platform::Module module(path);
        EXPECT_FALSE(module.Loaded());
        EXPECT_EQ(module.Error().rfind(path + ": " + message, 0), 0u) << module.Error();
    }
}

} // namespace
