#include "platform/versioninfo.h"

#include <string_view>

namespace platform {
namespace {

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::vector<std::uint8_t>& out) : FOut(out) {}
    void Word(std::uint16_t v)
    {
        FOut.push_back(static_cast<std::uint8_t>(v & 0xFF));
        FOut.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void DWord(std::uint32_t v)
    {
        Word(static_cast<std::uint16_t>(v & 0xFFFF));
        Word(static_cast<std::uint16_t>(v >> 16));
    }
    void WideText(std::u16string_view text) // with its NUL
    {
        for (char16_t c : text)
            Word(static_cast<std::uint16_t>(c));
        Word(0);
    }
    void AlignTo32Bits()
    {
        while (FOut.size() % 4 != 0)
            FOut.push_back(0);
    }

private:
    std::vector<std::uint8_t>& FOut;
};

constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedFileInfoVersion = 0x00010000;
constexpr std::uint32_t kFileFlagsMask = 0x3F;      // VS_FFI_FILEFLAGSMASK
constexpr std::uint32_t kFileOsNtWindows32 = 0x40004; // VOS_NT_WINDOWS32
constexpr std::uint32_t kFileTypeApp = 1;           // VFT_APP
constexpr std::uint16_t kFixedFileInfoSize = 52;

} // namespace

std::vector<std::uint8_t> BuildVersionInfo(std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                                           std::uint16_t build)
{
    std::vector<std::uint8_t> block;
    LittleEndianWriter w(block);
    w.Word(0); // wLength, filled in below
    w.Word(kFixedFileInfoSize);
    w.Word(0); // wType: binary
    w.WideText(u"VS_VERSION_INFO");
    w.AlignTo32Bits();

    const std::uint32_t versionMS = (std::uint32_t(major) << 16) | minor;
    const std::uint32_t versionLS = (std::uint32_t(release) << 16) | build;
    w.DWord(kFixedFileInfoSignature);
    w.DWord(kFixedFileInfoVersion);
    w.DWord(versionMS); // file version
    w.DWord(versionLS);
    w.DWord(versionMS); // product version
    w.DWord(versionLS);
    w.DWord(kFileFlagsMask);
    w.DWord(0); // flags
    w.DWord(kFileOsNtWindows32);
    w.DWord(kFileTypeApp);
    w.DWord(0); // subtype
    w.DWord(0); // date MS
    w.DWord(0); // date LS

    const auto length = static_cast<std::uint16_t>(block.size());
    block[0] = static_cast<std::uint8_t>(length & 0xFF);
    block[1] = static_cast<std::uint8_t>(length >> 8);
    return block;
}

} // namespace platform
