// Loading libraries with the system's dynamic loader.
#include "platform/internal.h"
#include "platform/module.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <unistd.h>

namespace platform {
namespace {

std::string LoaderError(const char* fallback)
{
    const char* message = dlerror();
    return message ? message : fallback;
}

// The file of a library, closed when done; reads that fall short count as failures.
class TLibraryFile {
public:
    // O_NONBLOCK: a FIFO put in the file's place since it was checked must not block the open.
    explicit TLibraryFile(const std::string& path)
        : FDescriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK))
    {
    }
    TLibraryFile(const TLibraryFile&) = delete;
    TLibraryFile& operator=(const TLibraryFile&) = delete;
    ~TLibraryFile()
    {
        if (FDescriptor >= 0)
            close(FDescriptor);
    }

    bool IsRegular(std::uint64_t& size) const
    {
        struct stat info {};
        if (FDescriptor < 0 || fstat(FDescriptor, &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        size = static_cast<std::uint64_t>(info.st_size);
        return true;
    }

    template <typename T>
    bool Read(std::uint64_t offset, T& value) const
    {
        return pread(FDescriptor, &value, sizeof value, static_cast<off_t>(offset)) == static_cast<ssize_t>(sizeof value);
    }

    // The file's first bytes.size() bytes, or as many as it holds.
    bool ReadHead(std::string& bytes) const
    {
        const ssize_t n = pread(FDescriptor, bytes.data(), bytes.size(), 0);
        if (n < 0)
            return false;
        bytes.resize(static_cast<std::size_t>(n));
        return true;
    }

private:
    int FDescriptor;
};

// Whether count entries of entrySize bytes from offset lie within a file of fileSize bytes,
// without overflow.
bool TableFits(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize, std::uint64_t fileSize)
{
    if (offset > fileSize)
        return false;
    return count == 0 || entrySize <= (fileSize - offset) / count;
}

bool RangeFits(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize)
{
    return offset <= fileSize && length <= fileSize - offset;
}

constexpr unsigned char NativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char NativeData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
// The loader takes a library of another machine type for a missing file ("No such file").
#if defined(__x86_64__)
constexpr int NativeMachine = EM_X86_64;
#elif defined(__i386__)
constexpr int NativeMachine = EM_386;
#elif defined(__aarch64__)
constexpr int NativeMachine = EM_AARCH64;
#else
constexpr int NativeMachine = EM_NONE; // not checked
#endif

// Checks a library file before the loader opens it: it must be a regular file once its symbolic
// links are resolved (the loader's open of a FIFO blocks for ever, and a device is no library),
// and it must hold what its own ELF headers announce (the loader maps those segments and faults
// with SIGBUS touching what a truncated file no longer holds). Empty, with the resolved path in
// resolved, when the file may be handed to the loader; otherwise why it is refused.
std::string LibraryFileFault(const std::string& path, std::string& resolved)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return std::strerror(errno);
    resolved = real;
    std::free(real);
    struct stat info {};
    if (stat(resolved.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    const TLibraryFile file(resolved);
    std::uint64_t size = 0;
    if (!file.IsRegular(size))
        return "not a regular file, or it cannot be read";
    ElfW(Ehdr) header{};
    if (!file.Read(0, header))
        return "file too short";
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return "invalid ELF header";
    if (header.e_ident[EI_CLASS] != NativeClass)
        return "wrong ELF class: not the class of this program";
    if (header.e_ident[EI_DATA] != NativeData)
        return "ELF file data encoding not the byte order of this program";
    if (NativeMachine != EM_NONE && header.e_machine != NativeMachine)
        return "a module of another machine type (ELF machine " + std::to_string(header.e_machine) + ", this program's is "
               + std::to_string(NativeMachine) + ")";

    if (header.e_phnum == 0 || header.e_phentsize != sizeof(ElfW(Phdr)))
        return "ELF file has no usable program headers";
    if (!TableFits(header.e_phoff, header.e_phnum, header.e_phentsize, size))
        return "file too short: the program headers end past the end of the file";
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        if (!file.Read(header.e_phoff + std::uint64_t{i} * header.e_phentsize, segment))
            return "cannot read the program headers";
        if (segment.p_type == PT_LOAD && !RangeFits(segment.p_offset, segment.p_filesz, size))
            return "file too short: loadable segment " + std::to_string(i) + " ends past the end of the file";
    }

    if (header.e_shoff != 0) {
        if (header.e_shentsize != sizeof(ElfW(Shdr)))
            return "ELF file's section header size is wrong";
        std::uint64_t sections = header.e_shnum;
        if (sections == 0) { // more sections than the field holds: the count is the first entry's size
            ElfW(Shdr) first{};
            if (!RangeFits(header.e_shoff, sizeof first, size) || !file.Read(header.e_shoff, first))
                return "file too short: the section headers end past the end of the file";
            sections = first.sh_size;
        }
        if (!TableFits(header.e_shoff, sections, header.e_shentsize, size))
            return "file too short: the section headers end past the end of the file";
    }
    return {};
}

} // namespace

Module::Module(const std::string& path)
{
    // A name without a folder is searched for by the loader among the system's libraries; a path
    // is checked, and the very file checked is the one loaded.
    std::string file = path;
    if (path.find('/') != std::string::npos) {
        const std::string fault = LibraryFileFault(path, file);
        if (!fault.empty()) {
            FError = path + ": " + fault;
            return;
        }
    }
    dlerror();
    FHandle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle)
        FError = LoaderError("cannot load the library");
}

void* Module::Symbol(const char* name) const
{
    if (!FHandle) {
        FError = "the library is not loaded";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(FHandle, name);
    if (!address)
        FError = LoaderError("symbol not found");
    return address;
}

void Module::Unload()
{
    if (FHandle) {
        dlclose(FHandle);
        FHandle = nullptr;
    }
}

bool detail::ReadFileHead(const std::string& path, std::size_t maxBytes, std::string& head)
{
    head.clear();
    // Checked before the open too: opening a device may act on it.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const TLibraryFile file(path);
    std::uint64_t size = 0;
    if (!file.IsRegular(size))
        return false;
    head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, maxBytes)));
    return file.ReadHead(head);
}

std::string ModulePathOf(const void* addressInModule)
{
    Dl_info info{};
    if (!addressInModule || !dladdr(addressInModule, &info) || !info.dli_fname)
        return {};
    // The loader names the main program by the argv[0] it was started with, which need not
    // resolve from the current folder; the kernel knows its real file.
    if (info.dli_fname[0] == '\0' || std::strcmp(info.dli_fname, program_invocation_name) == 0) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    char* resolved = realpath(info.dli_fname, nullptr);
    if (!resolved)
        return {};
    std::string path = resolved;
    std::free(resolved);
    return path;
}

} // namespace platform
