// The driver in a host process of its own bitness (tools/ponderix-host.cpp is the host): starting
// it, reading its one line and unmarshalling the object it hands back; ending it.
#include "platform/comptr.h"
#include "platform/driverhost.h"
#include "platform/hostline.h"
#include "platform/internal_win.h"
#include "platform/module.h"

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace platform {
namespace {

// How long the host may take to create the object (it loads the driver and runs its start-up).
constexpr DWORD kStartLimitMs = 30000;

// The folder of the program's file, with its trailing separator.
std::wstring ProgramFolder()
{
    // The program's module handle is its base address, an address within it.
    const std::wstring path = detail::WideFromUtf8(ModulePathOf(GetModuleHandleW(nullptr)));
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Closes a handle on every path.
struct THandle {
    HANDLE Value = nullptr;
    THandle() = default;
    explicit THandle(HANDLE value) : Value(value) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reset(); }
    void Reset()
    {
        if (Value && Value != INVALID_HANDLE_VALUE)
            CloseHandle(Value);
        Value = nullptr;
    }
    HANDLE Release()
    {
        HANDLE value = Value;
        Value = nullptr;
        return value;
    }
};

// The host's one line: read until its end, the host's end or the time limit.
bool ReadAnswer(HANDLE output, HANDLE process, std::string& answer, std::string& why)
{
    answer.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
    for (;;) {
        DWORD available = 0;
        if (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[512];
            DWORD read = 0;
            if (!ReadFile(output, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr))
                break;
            answer.append(buffer, read);
            if (const std::size_t end = answer.find('\n'); end != std::string::npos) {
                answer.resize(end);
                if (!answer.empty() && answer.back() == '\r')
                    answer.pop_back();
                return true;
            }
            if (answer.size() > hostline::kMaxLine) {
                why = "the host's answer is longer than " + std::to_string(hostline::kMaxLine) + " bytes";
                return false;
            }
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "the host did not create the object within " + std::to_string(kStartLimitMs / 1000) + " s";
            return false;
        }
        if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0) {
            // Whatever it wrote before it ended is still in the pipe.
            if (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0)
                continue;
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            char text[64];
            std::snprintf(text, sizeof text, "the host ended with exit code 0x%08lX before it answered",
                          static_cast<unsigned long>(code));
            why = text;
            return false;
        }
    }
    why = "the host's answer could not be read: " + detail::SystemMessage(GetLastError());
    return false;
}

// "OK <hex>": the reference unmarshalled into this apartment. "ERR <status> <text>": the host's refusal.
HRESULT TakeAnswer(const std::string& line, ComPtr<IUnknown>& object, std::string& why)
{
    const hostline::TAnswer answer = hostline::ParseAnswer(line);
    switch (answer.Kind) {
    case hostline::TAnswer::TKind::Refusal: {
        const auto status = static_cast<HRESULT>(answer.Status);
        why = "the host could not create the object (" + answer.What + ")";
        return FAILED(status) ? status : E_FAIL;
    }
    case hostline::TAnswer::TKind::Unexpected:
        why = "the host answered something else than a marshalled reference";
        return E_UNEXPECTED;
    case hostline::TAnswer::TKind::NotHexadecimal:
        why = "the host's marshalled reference is not hexadecimal";
        return E_UNEXPECTED;
    case hostline::TAnswer::TKind::Reference:
        break;
    }
    const std::size_t size = answer.Reference.size();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory)
        return E_OUTOFMEMORY;
    auto* bytes = static_cast<unsigned char*>(GlobalLock(memory));
    std::copy(answer.Reference.begin(), answer.Reference.end(), bytes);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    HRESULT status = CreateStreamOnHGlobal(memory, TRUE, &stream);
    if (FAILED(status)) {
        GlobalFree(memory);
        return status;
    }
    status = CoUnmarshalInterface(stream, IID_IUnknown, object.OutVoid());
    stream->Release();
    if (FAILED(status))
        why = "the host's reference could not be unmarshalled";
    return status;
}

} // namespace

std::unique_ptr<DriverHost> DriverHost::Start(REFCLSID clsid, ComPtr<IUnknown>& object, HRESULT& status,
                                              std::string& why)
{
    object.Reset();
    why.clear();
    std::string module;
    const int bitness = detail::RegisteredServerBitness(clsid, module);
    if (bitness == 0) {
        status = REGDB_E_CLASSNOTREG;
        why = module.empty() ? "no module is registered for the class"
                             : "the registered module " + module + " is not a Windows module that can be read";
        return nullptr;
    }
    const std::wstring host = ProgramFolder() + (bitness == 32 ? L"ponderix-host32.exe" : L"ponderix-host64.exe");
    if (GetFileAttributesW(host.c_str()) == INVALID_FILE_ATTRIBUTES) {
        status = CO_E_SERVER_EXEC_FAILURE;
        why = "the host for " + std::to_string(bitness) + "-bit drivers, " + detail::Utf8FromWide(host) +
              ", is missing";
        return nullptr;
    }

    // The host's input and output: only its ends are inherited.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    THandle inputRead, inputWrite, outputRead, outputWrite, errors;
    if (!CreatePipe(&inputRead.Value, &inputWrite.Value, &inherit, 0) ||
        !CreatePipe(&outputRead.Value, &outputWrite.Value, &inherit, 0) ||
        !SetHandleInformation(inputWrite.Value, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(outputRead.Value, HANDLE_FLAG_INHERIT, 0)) {
        why = "no pipe for the host: " + detail::SystemMessage(GetLastError());
        status = CO_E_SERVER_EXEC_FAILURE;
        return nullptr;
    }
    // The host's standard error is ours: what the driver writes there stays visible.
    if (HANDLE ours = GetStdHandle(STD_ERROR_HANDLE); ours && ours != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), ours, GetCurrentProcess(), &errors.Value, 0, TRUE, DUPLICATE_SAME_ACCESS);

    OLECHAR classId[64] = {};
    StringFromGUID2(clsid, classId, 64);
    std::wstring commandLine = L"\"" + host + L"\" " + classId;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead.Value;
    startup.hStdOutput = outputWrite.Value;
    startup.hStdError = errors.Value;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(host.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        why = "the host " + detail::Utf8FromWide(host) + " could not be started: " + detail::SystemMessage(GetLastError());
        status = CO_E_SERVER_EXEC_FAILURE;
        return nullptr;
    }
    CloseHandle(process.hThread);
    std::unique_ptr<DriverHost> started(new DriverHost());
    started->FProcess = reinterpret_cast<std::intptr_t>(process.hProcess);
    started->FInput = reinterpret_cast<std::intptr_t>(inputWrite.Release());
    started->FProcessId = process.dwProcessId;
    started->FBitness = bitness;
    // The host holds its own ends now; ours would keep its output open after it ended.
    inputRead.Reset();
    outputWrite.Reset();
    errors.Reset();

    std::string answer;
    if (!ReadAnswer(outputRead.Value, process.hProcess, answer, why)) {
        status = CO_E_SERVER_EXEC_FAILURE;
        return nullptr; // the destructor ends the host
    }
    status = TakeAnswer(answer, object, why);
    if (FAILED(status))
        return nullptr;
    return started;
}

DriverHost::~DriverHost()
{
    const auto process = reinterpret_cast<HANDLE>(FProcess);
    if (FInput)
        CloseHandle(reinterpret_cast<HANDLE>(FInput));
    if (process) {
        if (WaitForSingleObject(process, 2000) != WAIT_OBJECT_0) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 2000);
        }
        CloseHandle(process);
    }
}

bool DriverHost::Ended(unsigned long& exitCode, unsigned long waitMs) const
{
    const auto process = reinterpret_cast<HANDLE>(FProcess);
    if (WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    exitCode = code;
    return true;
}

void DriverHost::End()
{
    const auto process = reinterpret_cast<HANDLE>(FProcess);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 2000);
}

} // namespace platform
