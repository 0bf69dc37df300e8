// The locale each registration asks for must really reach the Windows side,
// or the "Chinese" run would quietly be a second English one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Harness.h"

namespace e2e {
namespace {

constexpr char kReportVariable[] = "VARNOCK_E2E_REPORT_CODE_PAGE";

// ctest runs this program under LC_ALL=en_US.UTF-8 and under zh_CN.UTF-8.
TEST(CodePage, IsTheOneTheUnixLocaleAsksFor)
{
    const char* locale = std::getenv("LC_ALL");
    std::printf("GetACP() = %u, LC_ALL = %s\n", GetACP(), locale ? locale : "(unset)");
    const std::string name = locale ? locale : "";
    if (name.rfind("zh_CN", 0) == 0)
        EXPECT_EQ(GetACP(), 936u);
    else if (name.rfind("en_US", 0) == 0)
        EXPECT_EQ(GetACP(), 1252u);
    else
        GTEST_SKIP() << "not run under one of the two locales of the ctest registrations";
}

// Varnock.exe gets its code page the way this program's own child does.
TEST(CodePage, IsInheritedByAChildProcess)
{
    if (std::getenv(kReportVariable) != nullptr)
        GTEST_SKIP() << "this run is the child";
    const std::wstring report = ExeDirectory() + L"\\e2e-code-page-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    SetEnvironmentVariableW(Utf16(kReportVariable).c_str(), report.c_str());

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=CodePage.ReportForParent";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process));
    SetEnvironmentVariableW(Utf16(kReportVariable).c_str(), nullptr);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    TerminateProcess(process.hProcess, 1);  // in case it hangs
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::ifstream in(report.c_str());
    UINT childCodePage = 0;
    in >> childCodePage;
    in.close();
    DeleteFileW(report.c_str());
    EXPECT_EQ(childCodePage, GetACP());
}

TEST(CodePage, ReportForParent)
{
    const char* report = std::getenv(kReportVariable);
    if (report == nullptr)
        GTEST_SKIP() << "only run as the child of IsInheritedByAChildProcess";
    std::ofstream(Utf16(report).c_str()) << GetACP();
}

}  // namespace
}  // namespace e2e
