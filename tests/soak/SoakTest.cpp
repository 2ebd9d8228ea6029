// Soak: thousands of tray clicks through the monitor thread's window
// procedure, each building the whole popup menu from the largest lists Java
// may hand over (999 templates, 800 event elements, long-ish texts) and then
// dismissing it or choosing a harmless row. Whatever an opening takes it must
// give back: after the run the live menus, windows, icons, registry keys and
// kernel handles, the monitor thread's JNI local references, the outstanding
// UTF buffers and the heap are where they were after the first openings.
//
// On the host the Win32 stand-in counts its objects and a TrackPopupMenu
// handler makes the choice. Under Wine real menus open and the test support's
// ChooseInNextMenu drives them; Wine 8 answers 0 to GetGuiResources and
// GetProcessHandleCount, so the objects are counted by probing the handle
// tables instead.

#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <vector>

#include "BoundJava.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

#ifdef _WIN32
#else
#include <malloc.h>
#include "winstub_control.h"
#endif

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_UNDER_ASAN 1
#endif
#endif
#ifdef SOAK_UNDER_ASAN
// From the sanitizer's allocator interface; GCC ships the library, not the header.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

#ifndef CHIMELET_SOAK_OPENINGS
#define CHIMELET_SOAK_OPENINGS 1000
#endif

namespace {

#if !defined(_WIN32) && !defined(SOAK_UNDER_ASAN)
// mallinfo2 reports the main arena only: the monitor thread must allocate
// there too, which one arena for the whole process makes sure of. Set before
// any thread starts.
int const sOneArena = mallopt(M_ARENA_MAX, 1);
#endif

// Openings after which the baseline is taken. The stand-in runtime keeps the
// last 4096 UTF buffers released to it before it frees them; with 1799
// strings an opening, three openings fill that store.
int const kWarmUpOpenings = 4;

// --- What the process holds ---

struct Held {
    std::vector<std::pair<std::string, long long>> counts;  // must come back exactly
    long long heapBytes = 0;
    long long recordBytes = 0;  // the stand-ins' own records, reserved room included

    std::string Describe() const
    {
        std::string out;
        for (auto const &c : counts)
            out += c.first + "=" + std::to_string(c.second) + " ";
        return out + "heap=" + std::to_string(heapBytes);
    }
};

#ifdef _WIN32
// Wine's user and GDI handles are accepted in their 16-bit form, whatever
// their generation, so each table can be walked slot by slot.
long long CountOwnMenus()
{
    long long n = 0;
    for (ULONG_PTR i = 0x20; i < 0x10000; i += 2)
        n += IsMenu((HMENU)i) ? 1 : 0;
    return n;
}

long long CountOwnWindows()
{
    long long n = 0;
    DWORD const self = GetCurrentProcessId();
    for (ULONG_PTR i = 0x20; i < 0x10000; i += 2) {
        DWORD owner = 0;
        if (IsWindow((HWND)i) && GetWindowThreadProcessId((HWND)i, &owner) && owner == self)
            ++n;
    }
    return n;
}

long long CountGdiObjects()
{
    long long n = 0;
    for (ULONG_PTR i = 0x20; i < 0x10000; ++i)
        n += GetObjectType((HGDIOBJ)i) ? 1 : 0;
    return n;
}

long long CountKernelHandles()
{
    long long n = 0;
    DWORD flags;
    for (ULONG_PTR i = 4; i < 0x10000; i += 4)
        n += GetHandleInformation((HANDLE)i, &flags) ? 1 : 0;
    return n;
}

// Busy bytes of every heap of the process: the C runtime's and Wine's own.
long long HeapBusyBytes()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    long long busy = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        if (!HeapLock(heaps[h]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[h], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        }
        HeapUnlock(heaps[h]);
    }
    return busy;
}
#endif

// The room a vector filled one push_back at a time has reserved: it doubles
// whenever it is full.
long long RecordRoom(size_t used, size_t recordSize)
{
    size_t room = 0;
    while (room < used)
        room = room ? 2 * room : 1;
    return (long long)(room * recordSize);
}

// The stand-in runtime remembers every local reference made in a thread's
// outermost frame, deleted ones too, 8 bytes each; a real VM reuses the slot.
// The shell makes its class lookups for Do Not Disturb and for the commands
// there (and deletes them); the two list builds of each opening make theirs
// inside frames of their own, which go with everything in them.
long long FakeJvmFrameRecord(size_t classLookups)
{
    return RecordRoom(classLookups, sizeof(unsigned long long));
}

Held Measure(unsigned long monitorKey, size_t classLookups)
{
    Held held;
    held.recordBytes = FakeJvmFrameRecord(classLookups);
    held.counts.push_back({"localRefs", FakeJvm_LiveLocalRefs(monitorKey)});
    held.counts.push_back({"utfBuffers", FakeJvm_OutstandingUtfChars()});
#ifdef _WIN32
    DWORD handleCount = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handleCount);
    held.counts.push_back({"menus", CountOwnMenus()});
    held.counts.push_back({"windows", CountOwnWindows()});
    held.counts.push_back({"gdiObjects", CountGdiObjects()});
    held.counts.push_back({"kernelHandles", CountKernelHandles()});
    held.counts.push_back({"GR_USEROBJECTS", GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)});
    held.counts.push_back({"GR_GDIOBJECTS", GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)});
    held.counts.push_back({"GetProcessHandleCount", handleCount});
    held.heapBytes = HeapBusyBytes();
#else
    WinStubLive live = WinStub_LiveHandles();
    held.counts.push_back({"menus", live.menus});
    held.counts.push_back({"windows", live.windows});
    held.counts.push_back({"icons", live.icons});
    held.counts.push_back({"trayIcons", live.trayIcons});
    held.counts.push_back({"regKeys", live.regKeys});
    held.counts.push_back({"kernelHandles", live.kernelHandles});
    // Every TrackPopupMenu and SetForegroundWindow call is kept on record.
    held.recordBytes += RecordRoom(WinStub_TrackCalls().size(), sizeof(WinStubTrackCall))
                        + RecordRoom(WinStub_ForegroundCalls().size(), sizeof(HWND));
#ifdef SOAK_UNDER_ASAN
    held.heapBytes = (long long)__sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 const info = mallinfo2();
    held.heapBytes = (long long)(info.uordblks + info.hblkhd);  // large blocks are mapped apart
#endif
#endif
    return held;
}

// --- The run ---

struct Choice {
    char const *name;
    UINT command;        // 0: the menu is dismissed
    bool callsJava;      // the command reaches a Java method
};

// Rows that change nothing lasting. Under Wine each is reached with keys,
// so the templates chosen are near the top of their 999.
Choice const kChoices[] = {
    {"dismissed", 0, false},
    {"Help", 995, true},
    {"second template", 4001, true},
    {"first event", 8005, false},
    {"Do Not Disturb", 2001, true},
    {"Reminders", 1001, true},
#ifndef _WIN32
    {"last template", 4998, true},
#endif
};
size_t const kChoiceCount = sizeof kChoices / sizeof kChoices[0];

int Openings()
{
    char const *text = getenv("CHIMELET_SOAK_OPENINGS");
    int openings = text ? atoi(text) : CHIMELET_SOAK_OPENINGS;
    return openings > kWarmUpOpenings ? openings : kWarmUpOpenings + 1;
}

std::string LongishName(char const *what)
{
    return std::string(what) + " with a name long enough to need a wide menu, number ";
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProcess(); }

    void TearDown() override { EndMonitor(); }

    // Before the VM goes: the tray calls Java on its way out.
    void EndMonitor()
    {
        if (sg_hMonitorThread) {
            PostMessageA(sg_monitorHwnd, WM_CLOSE, 0, 0);
            EXPECT_EQ(WaitForSingleObject(sg_hMonitorThread, 30000), WAIT_OBJECT_0);
            CloseHandle(sg_hMonitorThread);
            sg_hMonitorThread = NULL;
        }
    }

    // The monitor thread as the guard starts it, bound as the launch binds it.
    void StartBoundMonitor()
    {
        HANDLE windowMade = CreateEventA(NULL, FALSE, FALSE, NULL);
        ASSERT_TRUE(windowMade);
        DWORD threadId;
        sg_hMonitorThread = CreateThread(NULL, 0, CreateOurWindow, windowMade, 0, &threadId);
        ASSERT_TRUE(sg_hMonitorThread);
        ASSERT_EQ(WaitForSingleObject(windowMade, 30000), WAIT_OBJECT_0);
        ASSERT_TRUE(sg_monitorHwnd);
        PostMessageA(sg_monitorHwnd, WM_BIND_TO_JAVA, 0, 0);
        ASSERT_TRUE(WaitForLog("attach "));
        // The bind is handled once the loop answers what was sent after it.
        SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);
    }
};

TEST_F(Soak, ManyOpeningsOfTheLargestMenuLeaveNothingBehind)
{
    int const openings = Openings();
    JavaScript const java = JavaScript()
                                .GeneratedTemplates(999, LongishName("Template"))
                                .GeneratedEvents(800, LongishName("Event"))
                                .DoNotDisturbSwitchedByJava();
    BoundJava bound(java.Text(), false);
    ASSERT_TRUE(bound.Started());
    StartBoundMonitor();
    unsigned long const monitorKey = FakeJvm_LastAttachedThreadKey();
    ASSERT_NE(monitorKey, 0ul);

#ifndef _WIN32
    // The handler runs on the monitor thread while the menu is open.
    std::atomic<UINT> choice{0};
    std::atomic<int> tracked{0};
    std::vector<MenuRow> firstMenu;
    WinStub_SetTrackPopupMenuHandler([&](HMENU menu, UINT, int, int, HWND) -> UINT {
        if (tracked++ == 0)
            firstMenu = ReadMenu(menu);
        return choice.load();
    });
#endif

    Held baseline;
    size_t classLookups = 0;
    int violations = 0;
    int wrongCalls = 0;
    for (int i = 0; i < openings; ++i) {
        Choice const &c = kChoices[i % kChoiceCount];
        int const invokesBefore = BoundJava::Count("invoke ");
#ifdef _WIN32
        ChooseInNextMenu(sg_monitorHwnd, c.command);
#else
        choice = c.command;
#endif
        SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, i % 2 ? WM_LBUTTONDOWN : WM_RBUTTONDOWN);

        // Three questions build the menu; then the command, if it calls Java.
        int const calls = BoundJava::Count("invoke ") - invokesBefore;
        if (calls != 3 + (c.callsJava ? 1 : 0) && wrongCalls++ < 5)
            ADD_FAILURE() << "opening " << i << " (" << c.name << ") made " << calls << " Java calls";
        if (FakeJvm_ViolationCount() != 0 && violations++ < 5)
            ADD_FAILURE() << "opening " << i << " (" << c.name << "):\n" << BoundJava::Violations();
        int const lookups = FakeJvm_CountLog("findclass com/norvanta/kelvarin/data/TExternalDataInterface -> found");
        classLookups += lookups > 2 ? lookups - 2 : 0;
        // The log would hold every call of the run; only this opening's matter.
        FakeJvm_ClearLog();

        if (i + 1 == kWarmUpOpenings)
            baseline = Measure(monitorKey, classLookups);
    }
    Held const end = Measure(monitorKey, classLookups);

#ifdef _WIN32
    EXPECT_EQ(TrackedMenuCount(), openings);
    std::vector<MenuRow> const menu = LastTrackedMenu();
#else
    EXPECT_EQ(tracked.load(), openings);
    std::vector<MenuRow> const menu = firstMenu;
#endif
    // The menu really was the largest one: 999 templates, 400 events.
    ASSERT_EQ(menu.size(), 17u);
    EXPECT_EQ(Describe(menu[10].sub), Describe(Schedule(Numbered(LongishName("Template"), 999))));
    EXPECT_EQ(menu[12].sub.size(), 400u);

    std::cout << "after " << kWarmUpOpenings << " openings: " << baseline.Describe() << "\n"
              << "after " << openings << " openings: " << end.Describe() << "\n";
    for (size_t k = 0; k < baseline.counts.size(); ++k) {
        SCOPED_TRACE(baseline.counts[k].first);
        EXPECT_EQ(end.counts[k].second, baseline.counts[k].second);
    }

    // Small noise is allowed, for the allocators' caches; and the stand-ins'
    // records grow with the run.
    long long const noise = RunningUnderWine() ? 256 * 1024 : 64 * 1024;
    long long const grown = end.heapBytes - baseline.heapBytes;
    long long const records = end.recordBytes - baseline.recordBytes;
    std::cout << "heap grown by " << grown << " bytes, up to " << records << " of them the stand-ins' records\n";
    EXPECT_LE(grown - records, noise) << "in " << openings - kWarmUpOpenings << " openings";
    EndMonitor();
}

} // namespace
