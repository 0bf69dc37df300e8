// The virtual adapter through its three exports, as the program links them.
// Each test has its own image file; the adapter is opened in SetUp (the
// unopened adapter has a test program of its own).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "AdapterTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <atomic>
#include <csignal>
#include <new>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace adaptertest;

#if defined(__SANITIZE_ADDRESS__)
// A fork copies the page tables of all this process holds, and the default
// quarantine of freed memory (256 MB) would make each of the thousand forks
// of the killed-writer test slower than the last. ASAN_OPTIONS still wins.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
#endif

namespace {

#ifndef _WIN32
// Shared with the forked writer, which tells through it where it was killed.
struct WriterState {
    std::atomic<int> inWrite{0};  // 1 from the call of a write to its return
};
WriterState* g_writerState = nullptr;
int g_writerReadyFd = -1;  // the writer's end of the pipe that says its first write is done
#endif

void TrackedWrite(const DeviceInfo& record)
{
#ifndef _WIN32
    if (g_writerState) g_writerState->inWrite = 1;
#endif
    Write(record);
#ifndef _WIN32
    if (g_writerState) g_writerState->inWrite = 0;
#endif
}

// Writes RecordA and RecordB in turn until it is killed; says so once its
// first write is done.
[[noreturn]] void WriteUntilKilled()
{
    Open();
    TrackedWrite(RecordB());
#ifndef _WIN32
    const char done = 1;
    static_cast<void>(!write(g_writerReadyFd, &done, 1));
#endif
    for (;;) {
        TrackedWrite(RecordA());
        TrackedWrite(RecordB());
    }
}

#ifdef _WIN32
// A copy of this program started with VADAPTER_TEST_WRITER set is the
// writer; it never reaches main().
const bool g_isWriter = [] {
    if (GetEnv("VADAPTER_TEST_WRITER")) WriteUntilKilled();
    return false;
}();
#endif

// Natively a fork, which is back once the writer's first write is done; a
// Windows process is a copy of this program, and starts slowly.
class WriterProcess {
public:
    WriterProcess()
    {
#ifdef _WIN32
        const ScopedEnv writer("VADAPTER_TEST_WRITER", fs::path("1"));
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"writer";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        m_started = CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process);
        if (m_started) CloseHandle(process.hThread);
        m_process = process.hProcess;
#else
        int ready[2];
        if (pipe(ready) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            g_writerReadyFd = ready[1];
            WriteUntilKilled();
        }
        close(ready[1]);
        char done = 0;
        m_started = m_pid > 0;
        if (m_started && read(ready[0], &done, 1) != 1) Kill();
        close(ready[0]);
#endif
    }
    ~WriterProcess() { Kill(); }
    bool Started() const { return m_started; }
    void Kill()
    {
        if (!m_started) return;
        m_started = false;
#ifdef _WIN32
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, INFINITE);
        CloseHandle(m_process);
#else
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
#endif
    }

private:
    bool m_started = false;
#ifdef _WIN32
    HANDLE m_process = nullptr;
#else
    pid_t m_pid = 0;
#endif
};

class VirtualAdapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearAdapterVariables();
        image = scratch.Path() / "image.bin";
        SetEnv("VADAPTER_IMAGE", image);
        ASSERT_EQ(Open(), 1u);
    }
    void TearDown() override { ClearAdapterVariables(); }

    void PutImage(const DeviceInfo& info) { WriteFileBytes(image, VectorOf(info)); }
    std::vector<uint8_t> ImageBytes() const { return FileBytes(image); }

    ScratchFolder scratch;
    fs::path image;
};

// --- The image file ---------------------------------------------------------

TEST_F(VirtualAdapter, FirstReadCreatesTheFactoryImage)
{
    ASSERT_FALSE(fs::exists(image));
    DeviceInfo info;
    ASSERT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(FactoryRecord()));
    EXPECT_EQ(ImageBytes(), VectorOf(FactoryRecord()));
}

TEST_F(VirtualAdapter, ReadReturnsWhatAnEarlierRunLeftInTheImage)
{
    PutImage(RecordA());
    DeviceInfo info;
    ASSERT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));
}

TEST_F(VirtualAdapter, WriteStoresTheRecordInTheImage)
{
    PutImage(RecordA());
    ASSERT_EQ(Write(RecordB()), 1u);
    EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));
    DeviceInfo info;
    ASSERT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
}

TEST_F(VirtualAdapter, WriteWithoutAnImageCreatesItWithTheRecord)
{
    ASSERT_EQ(Write(RecordB()), 1u);
    EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));
}

TEST_F(VirtualAdapter, ImagePathMayHoldAnyCharacters)
{
    const fs::path unicode = scratch.Path() / fs::u8path(u8"设备 映像 ü.bin");
    SetEnv("VADAPTER_IMAGE", unicode);
    ASSERT_EQ(Write(RecordA()), 1u);
    EXPECT_EQ(FileBytes(unicode), VectorOf(RecordA()));
    DeviceInfo info;
    ASSERT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));
}

// Without VADAPTER_IMAGE the image lives in the user's data folder, which
// the adapter creates.
TEST_F(VirtualAdapter, DefaultImageLocation)
{
    struct Case {
        const char* homeVariable;   // set to the scratch folder
        const char* otherVariable;  // unset
        fs::path expected;          // below the scratch folder
    };
#ifdef _WIN32
    const Case cases[] = {{"LOCALAPPDATA", "VADAPTER_IMAGE", fs::path("Varnock") / "virtual-adapter.bin"}};
#else
    const Case cases[] = {
        {"XDG_DATA_HOME", "VADAPTER_IMAGE", fs::path("varnock") / "virtual-adapter.bin"},
        {"HOME", "XDG_DATA_HOME", fs::path(".local") / "share" / "varnock" / "virtual-adapter.bin"},
    };
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.homeVariable);
        const ScratchFolder home;
        const ScopedEnv set(c.homeVariable, home.Path());
        const ScopedEnv unset(c.otherVariable, std::nullopt);
        UnsetEnv("VADAPTER_IMAGE");
        DeviceInfo info;
        ASSERT_EQ(Read(info), 1u);
        EXPECT_EQ(BytesOf(info), BytesOf(FactoryRecord()));
        EXPECT_EQ(FileBytes(home.Path() / c.expected), VectorOf(FactoryRecord()));
    }
}

// A damaged image is reported, never repaired or partly used.
TEST_F(VirtualAdapter, DamagedImageFailsReadAndWriteAndStaysAsItIs)
{
    const std::vector<uint8_t> factory = VectorOf(FactoryRecord());
    const struct {
        const char* name;
        std::vector<uint8_t> content;
    } files[] = {
        {"empty", {}},
        {"one byte short", std::vector<uint8_t>(factory.begin(), factory.end() - 1)},
        {"one byte long", [&] { auto v = factory; v.push_back(0); return v; }()},
        {"twice as long", [&] { auto v = factory; v.insert(v.end(), factory.begin(), factory.end()); return v; }()},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        WriteFileBytes(image, f.content);
        GuardedRecord record;
        const Bytes before = BytesOf(record.info);
        EXPECT_NE(Read(record.info), 1u);
        EXPECT_EQ(BytesOf(record.info), before);
        EXPECT_TRUE(record.GuardsIntact());
        EXPECT_NE(Write(RecordA()), 1u);
        EXPECT_EQ(ImageBytes(), f.content);
    }
}

TEST_F(VirtualAdapter, FolderInPlaceOfTheImageFailsReadAndWrite)
{
    fs::create_directory(image);
    DeviceInfo info = RecordB();
    EXPECT_NE(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
    EXPECT_NE(Write(RecordA()), 1u);
    EXPECT_TRUE(fs::is_directory(image));
}

TEST_F(VirtualAdapter, ImageInAMissingFolderFailsReadAndWrite)
{
    SetEnv("VADAPTER_IMAGE", scratch.Path() / "no such folder" / "image.bin");
    DeviceInfo info = RecordB();
    EXPECT_NE(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
    EXPECT_NE(Write(RecordA()), 1u);
    EXPECT_FALSE(fs::exists(scratch.Path() / "no such folder"));
}

// --- Atomic replacement -----------------------------------------------------

unsigned long ProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::vector<fs::path> FolderContents(const fs::path& folder)
{
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// What a write killed before its rename leaves: a temporary file beside
// the image, under any of the names this or an earlier process might use.
TEST_F(VirtualAdapter, LeftoverTemporaryFilesAreNeverTakenForTheImage)
{
    std::vector<fs::path> leftovers = {"image.bin.tmp", "image.bin.tmp-0-0", "image.bin.tmp-1-1"};
    for (int n = 0; n < 4; ++n)  // even this process's own next names
        leftovers.push_back("image.bin.tmp-" + std::to_string(ProcessId()) + '-' + std::to_string(n));
    for (const fs::path& name : leftovers) WriteFileBytes(scratch.Path() / name, VectorOf(RecordB()));

    DeviceInfo info;
    ASSERT_EQ(Read(info), 1u);  // no image yet: the factory's, not a leftover
    EXPECT_EQ(BytesOf(info), BytesOf(FactoryRecord()));
    ASSERT_EQ(Write(RecordA()), 1u);
    ASSERT_EQ(Read(info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));

    std::vector<fs::path> expected = leftovers;
    expected.push_back("image.bin");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderContents(scratch.Path()), expected);  // the writes left nothing behind
    for (const fs::path& name : leftovers) EXPECT_EQ(FileBytes(scratch.Path() / name), VectorOf(RecordB()));
}

// Another process writes RecordA and RecordB in turn while this one reads,
// and is killed at a random moment of its writing, a thousand times over (25
// on Windows, where each writer is a slow process start). Every read sees
// one whole record, and so does the read after the kill.
TEST_F(VirtualAdapter, ReadersSeeWholeRecordsWhileAWriterIsKilled)
{
    using Clock = std::chrono::steady_clock;
#ifdef _WIN32
    const int kKills = 25;
    auto killDelay = [](std::mt19937& random) { return std::chrono::microseconds(20000 + random() % 200000); };
#else
    const int kKills = 1000;
    // A write takes some tens of microseconds on a memory file system: a
    // delay of up to 1 ms after the first lands anywhere in the next dozens.
    auto killDelay = [](std::mt19937& random) { return std::chrono::microseconds(random() % 1000); };
    // A kill tests the rename, not the disk (the page cache outlives the
    // process), and the two fsyncs of each write take milliseconds on a disk.
    std::optional<ScratchFolder> memory;
    if (fs::is_directory("/dev/shm")) {
        memory.emplace("/dev/shm");
        image = memory->Path() / "image.bin";
        SetEnv("VADAPTER_IMAGE", image);
    }
    void* shared = mmap(nullptr, sizeof(WriterState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    g_writerState = new (shared) WriterState;
    struct Unmap {
        void* at;
        ~Unmap() { g_writerState = nullptr; munmap(at, sizeof(WriterState)); }
    } unmap{shared};
#endif
    const Bytes a = BytesOf(RecordA()), b = BytesOf(RecordB());
    PutImage(RecordA());
    std::mt19937 random(12345);
    int seenA = 0, seenB = 0;
    auto check = [&](const char* when) {
        DeviceInfo info;
        if (Read(info) != 1u) {
            ADD_FAILURE() << "read failed " << when;
            return Bytes{};
        }
        const Bytes got = BytesOf(info);
        if (got == a) ++seenA;
        else if (got == b) ++seenB;
        else ADD_FAILURE() << "a mixed record " << when;
        return got;
    };

    // Each kill comes after the writer has written: natively its first write
    // is done when the fork is back, on Windows a read shows what it wrote.
#ifndef _WIN32
    int killsInsideAWrite = 0;
#endif
    for (int round = 0; round < kKills && !HasFailure(); ++round) {
        SCOPED_TRACE(round);
#ifdef _WIN32
        PutImage(RecordA());
        WriterProcess writer;
        ASSERT_TRUE(writer.Started());
        const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(30);
        while (check("while the writer starts") == a && !HasFailure()) {
            ASSERT_LT(Clock::now(), giveUp) << "the writer never wrote";
        }
#else
        g_writerState->inWrite = 0;
        WriterProcess writer;
        ASSERT_TRUE(writer.Started()) << "the writer did not finish its first write";
        // The delay counts from its next write: a writer not given the
        // processor since its first would die between two, whatever the delay.
        const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(30);
        while (!g_writerState->inWrite.load() && !HasFailure()) {
            ASSERT_LT(Clock::now(), giveUp) << "the writer never wrote again";
            check("while the writer starts");
        }
#endif
        const Clock::time_point killAt = Clock::now() + killDelay(random);
        while (Clock::now() < killAt && !HasFailure()) check("while the writer writes");
        writer.Kill();
#ifndef _WIN32
        killsInsideAWrite += g_writerState->inWrite.load();
#endif
        check("after the kill");
        EXPECT_EQ(ImageBytes().size(), sizeof(DeviceInfo));
    }
    EXPECT_GT(seenA, 0);
    EXPECT_GT(seenB, 0);
#ifndef _WIN32
    // Most land inside a write call, the rest between two: fewer would mean
    // the kills miss the rename they are here to test.
    EXPECT_GT(killsInsideAWrite, kKills / 2);
    RecordProperty("kills_inside_a_write", killsInsideAWrite);
    std::printf("%d kills, %d of them inside a write call\n", kKills, killsInsideAWrite);
#endif
}

// --- The program's binding ---------------------------------------------------

// The three operations as the programs take them: each pointer is the export
// it names, so an open opens, a read reads and a write writes.
TEST_F(VirtualAdapter, TheProgramsBindingReachesEachExport)
{
    const DeviceLibrary& library = LinkedDeviceLibrary();
    PutImage(RecordA());
    EXPECT_NE(library.DeviceOpen(3, 0, 0), 1u);
    EXPECT_EQ(library.DeviceOpen(2, 0, 0), 1u);
    DeviceInfo info = RecordB();
    EXPECT_EQ(library.DeviceInfoRead(2, 0, &info), 1u);
    EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));
    info = RecordB();
    EXPECT_EQ(library.DeviceInfoWrite(2, 0, &info), 1u);
    EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));
}

// --- Open, device address ---------------------------------------------------

TEST_F(VirtualAdapter, OpenAcceptsOnlyTypeTwoIndexZeroWithAnyThirdArgument)
{
    const struct {
        uint32_t type, index, third;
        bool opens;
    } cases[] = {
        {2, 0, 0, true},          {2, 0, 1, true},           {2, 0, 0xFFFFFFFF, true},
        {0, 0, 0, false},         {1, 0, 0, false},          {3, 0, 0, false},
        {0xFFFFFFFF, 0, 0, false}, {2, 1, 0, false},          {2, 0xFFFFFFFF, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "open " << c.type << ' ' << c.index << ' ' << c.third);
        const DeviceResult result = DeviceOpen(c.type, c.index, c.third);
        if (c.opens) EXPECT_EQ(result, 1u);
        else EXPECT_NE(result, 1u);
    }
    EXPECT_EQ(Open(), 1u);  // again, after failures and repeats
}

TEST_F(VirtualAdapter, ReadAndWriteAcceptOnlyTypeTwoIndexZero)
{
    PutImage(RecordA());
    const struct {
        uint32_t type, index;
    } others[] = {{0, 0}, {1, 0}, {3, 0}, {2, 1}, {2, 0xFFFFFFFF}};
    for (const auto& o : others) {
        SCOPED_TRACE(testing::Message() << o.type << ' ' << o.index);
        DeviceInfo info = RecordB();
        EXPECT_NE(DeviceInfoRead(o.type, o.index, &info), 1u);
        EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));
        EXPECT_NE(DeviceInfoWrite(o.type, o.index, &info), 1u);
        EXPECT_EQ(ImageBytes(), VectorOf(RecordA()));
    }
}

// --- The caller's record ----------------------------------------------------

TEST_F(VirtualAdapter, CallsTouchNoByteBesideTheRecord)
{
    PutImage(RecordA());
    GuardedRecord read;
    ASSERT_EQ(Read(read.info), 1u);
    EXPECT_TRUE(read.GuardsIntact());
    EXPECT_EQ(BytesOf(read.info), BytesOf(RecordA()));

    GuardedRecord write;
    write.info = RecordB();
    ASSERT_EQ(DeviceInfoWrite(2, 0, &write.info), 1u);
    EXPECT_TRUE(write.GuardsIntact());
    EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));

    SetEnv("VADAPTER_FAIL_READ_GARBAGE", "1");
    GuardedRecord garbage;
    EXPECT_NE(Read(garbage.info), 1u);
    EXPECT_TRUE(garbage.GuardsIntact());
}

// With the record at the very end of its own allocation, AddressSanitizer
// catches any access past it on the native build.
TEST_F(VirtualAdapter, RecordAtTheEndOfItsAllocation)
{
    PutImage(RecordA());
    auto info = std::make_unique<DeviceInfo>();
    EXPECT_EQ(DeviceInfoRead(2, 0, info.get()), 1u);
    EXPECT_EQ(DeviceInfoWrite(2, 0, info.get()), 1u);
    SetEnv("VADAPTER_FAIL_READ_GARBAGE", "1");
    EXPECT_NE(DeviceInfoRead(2, 0, info.get()), 1u);
}

TEST_F(VirtualAdapter, NullRecordFails)
{
    PutImage(RecordA());
    for (const char* garbage : {"0", "1"}) {
        SetEnv("VADAPTER_FAIL_READ_GARBAGE", garbage);
        EXPECT_NE(DeviceInfoRead(2, 0, nullptr), 1u);
        EXPECT_NE(DeviceInfoWrite(2, 0, nullptr), 1u);
    }
    EXPECT_EQ(ImageBytes(), VectorOf(RecordA()));
}

// --- Injected faults --------------------------------------------------------

TEST_F(VirtualAdapter, InjectedFaults)
{
    const struct {
        const char* variable;
        bool opens, reads, writes;
        uint8_t storedByte18Flip = 0;  // what the image's byte 18 differs by from the record written
    } faults[] = {
        {"VADAPTER_ABSENT", false, false, false},
        {"VADAPTER_FAIL_READ", true, false, true},
        {"VADAPTER_FAIL_READ_GARBAGE", true, false, true},
        {"VADAPTER_FAIL_WRITE", true, true, false},
        {"VADAPTER_WRITE_STORES_OTHER", true, true, true, 0x01},
        // The rows above have written by now (a fresh process has a test of its own).
        {"VADAPTER_FAIL_READ_AFTER_WRITE", true, false, true},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.variable);
        PutImage(RecordA());
        SetEnv(f.variable, "1");
        EXPECT_EQ(Open() == 1u, f.opens);
        DeviceInfo info = RecordB();
        EXPECT_EQ(Read(info) == 1u, f.reads);
        if (f.reads) {
            EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));
        } else if (std::string(f.variable) == "VADAPTER_FAIL_READ_GARBAGE") {
            for (size_t i = 0; i < sizeof info; ++i)  // all 52 bytes scribbled on
                EXPECT_EQ(BytesOf(info)[i], uint8_t("\xDE\xAD\xBE\xEF"[i % 4])) << i;
        } else {
            EXPECT_EQ(BytesOf(info), BytesOf(RecordB()));  // left alone
        }
        EXPECT_EQ(Write(RecordB()) == 1u, f.writes);
        std::vector<uint8_t> stored = VectorOf(f.writes ? RecordB() : RecordA());
        stored[18] ^= f.storedByte18Flip;
        EXPECT_EQ(ImageBytes(), stored);

        // Read anew at each call: "0" and unset both mean no fault.
        for (const char* off : {"0", ""}) {
            SetEnv(f.variable, off);
            if (!*off) UnsetEnv(f.variable);
            PutImage(RecordA());
            EXPECT_EQ(Open(), 1u);
            EXPECT_EQ(Read(info), 1u);
            EXPECT_EQ(Write(RecordB()), 1u);
        }
    }
}

// The byte a lying write flips: any of the 52, else the suffix's last.
TEST_F(VirtualAdapter, WriteStoresOtherFlipsTheByteAsked)
{
    const struct {
        const char* value;
        size_t flipped;
    } cases[] = {
        {nullptr, 18}, {"0", 0}, {"17", 17}, {"51", 51}, {"0x33", 51},
        // Out of range or not a number: the default.
        {"52", 18}, {"4294967295", 18}, {"-1", 18}, {"", 18},
    };
    SetEnv("VADAPTER_WRITE_STORES_OTHER", "1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value) SetEnv("VADAPTER_WRITE_STORES_OTHER_BYTE", c.value);
        else UnsetEnv("VADAPTER_WRITE_STORES_OTHER_BYTE");
        PutImage(RecordA());
        ASSERT_EQ(Write(RecordB()), 1u);
        std::vector<uint8_t> stored = VectorOf(RecordB());
        stored[c.flipped] ^= 0x01;
        EXPECT_EQ(ImageBytes(), stored);
    }
    UnsetEnv("VADAPTER_WRITE_STORES_OTHER");  // the byte alone changes nothing
    ASSERT_EQ(Write(RecordB()), 1u);
    EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));
}

// abort() ends the process, so the write runs in a death test's child: a
// fork natively, on Windows a new copy of this program, which takes the
// parent's image from the environment rather than make a folder it would
// never remove.
TEST(VirtualAdapterDeathTest, AbortAfterWriteEndsTheProcessWithTheRecordStored)
{
    const std::optional<fs::path> parentImage = GetEnv("VADAPTER_TEST_ABORT_IMAGE");
    std::optional<ScratchFolder> scratch;
    if (!parentImage) scratch.emplace();
    const fs::path image = parentImage ? *parentImage : scratch->Path() / "image.bin";
    const ScopedEnv passOn("VADAPTER_TEST_ABORT_IMAGE", image);
    ClearAdapterVariables();
    SetEnv("VADAPTER_IMAGE", image);
    WriteFileBytes(image, VectorOf(RecordA()));
    SetEnv("VADAPTER_ABORT_AFTER_WRITE", "1");
    EXPECT_DEATH(
        {
            Open();
            Write(RecordB());
        },
        "");
    EXPECT_EQ(FileBytes(image), VectorOf(RecordB()));

    // A write that stored nothing returns.
    ASSERT_EQ(Open(), 1u);
    SetEnv("VADAPTER_FAIL_WRITE", "1");
    EXPECT_NE(Write(RecordA()), 1u);
    EXPECT_EQ(FileBytes(image), VectorOf(RecordB()));
    ClearAdapterVariables();
}

TEST_F(VirtualAdapter, FailingCallsReturnTheConfiguredResult)
{
    const struct {
        const char* value;
        DeviceResult result;
    } cases[] = {
        {nullptr, 0},         {"0", 0},           {"2", 2},   {"4294967295", 0xFFFFFFFF}, {"0xFFFFFFFF", 0xFFFFFFFF},
        {"0x7FFFFFFF", 0x7FFFFFFF}, {"0X7fffffff", 0x7FFFFFFF}, {"0x10", 16},
        // Not a number, or out of range: the default.
        {"", 0}, {"junk", 0}, {"0x", 0}, {"-1", 0}, {" 2", 0}, {"2 ", 0}, {"4294967296", 0}, {"0x100000000", 0},
        // A failure never reads as success.
        {"1", 0}, {"0x1", 0},
    };
    PutImage(RecordA());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value) SetEnv("VADAPTER_FAIL_RESULT", c.value);
        else UnsetEnv("VADAPTER_FAIL_RESULT");
        DeviceInfo info;
        SetEnv("VADAPTER_ABSENT", "1");
        EXPECT_EQ(Open(), c.result);
        UnsetEnv("VADAPTER_ABSENT");
        SetEnv("VADAPTER_FAIL_READ", "1");
        EXPECT_EQ(Read(info), c.result);
        UnsetEnv("VADAPTER_FAIL_READ");
        SetEnv("VADAPTER_FAIL_WRITE", "1");
        EXPECT_EQ(Write(RecordB()), c.result);
        UnsetEnv("VADAPTER_FAIL_WRITE");
        EXPECT_EQ(DeviceOpen(3, 0, 0), c.result);  // not only injected failures
    }
}

TEST_F(VirtualAdapter, DelayComesBeforeEachCall)
{
    using namespace std::chrono;
    SetEnv("VADAPTER_DELAY_MS", "150");
    DeviceInfo info;
    const std::pair<const char*, std::function<DeviceResult()>> calls[] = {
        {"open", [] { return Open(); }},
        {"read", [&] { return Read(info); }},
        {"write", [&] { return Write(info); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        const steady_clock::time_point start = steady_clock::now();
        EXPECT_EQ(call(), 1u);
        EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - start).count(), 140);
    }
}

// --- Call log ---------------------------------------------------------------

std::vector<std::string> Lines(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Hex(const DeviceInfo& info)
{
    std::string text;
    char pair[3];
    for (uint8_t byte : BytesOf(info)) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

TEST_F(VirtualAdapter, LogHasOneLinePerCall)
{
    const fs::path log = scratch.Path() / "calls.log";
    SetEnv("VADAPTER_LOG", log);
    SetEnv("VADAPTER_FAIL_RESULT", "0xFFFFFFFF");
    PutImage(RecordA());

    DeviceInfo info = RecordB();
    DeviceOpen(2, 0, 7);
    DeviceOpen(3, 4294967295u, 0);
    Read(info);
    Write(RecordB());
    DeviceInfoWrite(2, 1, &info);
    SetEnv("VADAPTER_FAIL_READ_GARBAGE", "1");
    DeviceInfo scribbled = RecordB();
    Read(scribbled);
    DeviceInfoRead(2, 0, nullptr);

    std::string deadbeef;
    for (int i = 0; i < 13; ++i) deadbeef += "deadbeef";
    const std::vector<std::string> expected = {
        "open 2 0 7 -> 1",
        "open 3 4294967295 0 -> 4294967295",
        "read 2 0 -> 1 " + Hex(RecordA()),
        "write 2 0 -> 1 " + Hex(RecordB()),
        "write 2 1 -> 4294967295 " + Hex(RecordA()),
        "read 2 0 -> 4294967295 " + deadbeef,
        "read 2 0 -> 4294967295 null",
    };
    EXPECT_EQ(Lines(log), expected);
    EXPECT_EQ(Hex(scribbled), deadbeef);
}

// The log is for tests to read; one that cannot be written changes no result.
TEST_F(VirtualAdapter, UnwritableLogChangesNoResult)
{
    for (const fs::path& log : {scratch.Path(), scratch.Path() / "no such folder" / "calls.log"}) {
        SCOPED_TRACE(log.string());
        SetEnv("VADAPTER_LOG", log);
        PutImage(RecordA());
        DeviceInfo info = RecordB();
        EXPECT_EQ(Open(), 1u);
        EXPECT_EQ(Read(info), 1u);
        EXPECT_EQ(BytesOf(info), BytesOf(RecordA()));
        EXPECT_EQ(Write(RecordB()), 1u);
        EXPECT_EQ(ImageBytes(), VectorOf(RecordB()));
    }
    EXPECT_FALSE(fs::exists(scratch.Path() / "no such folder"));
}

}  // namespace
