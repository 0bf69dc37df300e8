// The fixture of the end-to-end tests: one Varnock.exe per test, with a
// virtual adapter image and call log of its own, and nothing left running
// afterwards.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {

using Environment = std::map<std::wstring, std::wstring>;
using Record = std::vector<uint8_t>;

class VarnockTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts Varnock.exe on an adapter whose image holds `record` (no record:
    // no image file, so the adapter starts from its factory content).
    void Start(const std::optional<Record>& record = FactoryRecord(), const Environment& extra = {},
               const std::wstring& arguments = L"");
    Varnock& App() { return *m_app; }

    std::vector<LibraryCall> Calls() const { return ReadCallLog(m_log); }
    std::vector<LibraryCall> CallsOf(const std::string& op) const;

    // A person's actions on the main window, which is brought to the front first.
    void ClickButton(int id);
    void ReplaceSuffix(const std::wstring& text);  // click into the field, clear it, type
    // Presses "打开" on a present adapter and waits for the fields to fill.
    void OpenAndRead();

    // Waits for the message box, checks its caption and kind, presses its
    // OK button and returns its text. With a name, saves a picture of it first.
    std::wstring TakeMessage(bool byMouse = false, const std::wstring& screenshot = L"");

    void SaveScreenshot(HWND window, const std::wstring& name);

    std::wstring m_directory;  // of this test's image and log
    std::wstring m_image;
    std::wstring m_log;

private:
    std::unique_ptr<Varnock> m_app;
    HANDLE m_sessionLock = nullptr;
    HANDLE m_watchdogStop = nullptr;
    HANDLE m_watchdog = nullptr;
};

// Deletes the files in `directory`, not its folders.
void RemoveFiles(const std::wstring& directory);

// The record the adapter holds with some bytes replaced.
Record Patched(Record record, size_t offset, const std::vector<uint8_t>& bytes);
Record Patched(Record record, size_t offset, const std::string& text);

}  // namespace e2e
