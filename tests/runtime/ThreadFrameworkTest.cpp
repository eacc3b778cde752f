// The worker loop, the registry and its events, the stop handshake and the CPU sample.
#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/Utils.h"
#include "platform/clock.h"
#include "runtime/KxThread.h"
#include "runtime/ThreadManager.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

// A work function that returns a scripted series of results and notes the worker's
// state text at each call (that is, the state left by the previous result).
struct Script {
  std::vector<int> results;
  SingleThread* worker = nullptr;
  std::mutex mutex;
  std::vector<std::string> statesSeen;
  std::atomic<int> calls{0};
  std::atomic<int> lastIndex{-100};

  static int Work(void* data, int index) {
    auto* self = static_cast<Script*>(data);
    int call = self->calls.load();
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->statesSeen.push_back(self->worker->GetStateText());
    }
    self->lastIndex = index;
    self->calls = call + 1;
    return call < static_cast<int>(self->results.size()) ? self->results[call] : -1;
  }
  std::vector<std::string> States() {
    std::lock_guard<std::mutex> lock(mutex);
    return statesSeen;
  }
};

struct Counter {
  std::atomic<int> calls{0};
  int result = 1;
  static int Work(void* data, int) {
    auto* self = static_cast<Counter*>(data);
    ++self->calls;
    return self->result;
  }
};

__attribute__((noinline)) void FailDeepInside() { throw std::runtime_error("work failed"); }
int Throwing(void*, int) {
  FailDeepInside();
  return 1;
}

int Count(const std::vector<std::string>& texts, const std::string& text) {
  int n = 0;
  for (const auto& t : texts) n += t == text;
  return n;
}

TEST(KxThreadEventTest, ManualResetWaitsAndDisabling) {
  KxThreadEvent event;
  EXPECT_TRUE(event.IsEnabled());
  EXPECT_FALSE(event.IsThreadOwned());
  EXPECT_EQ(event.WaitFor(0), WaitResult::Timeout);
  EXPECT_EQ(event.WaitFor(5), WaitResult::Timeout);
  event.SetEvent();
  // Manual reset: stays signalled for every wait until reset.
  EXPECT_EQ(event.WaitFor(kInfinite), WaitResult::Signaled);
  EXPECT_EQ(event.WaitFor(0), WaitResult::Signaled);
  event.ResetEvent();
  EXPECT_EQ(event.WaitFor(0), WaitResult::Timeout);

  // A waiter on another thread is released by a set.
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = static_cast<int>(event.WaitFor(kInfinite)); });
  event.SetEvent();
  waiter.join();
  EXPECT_EQ(result.load(), static_cast<int>(WaitResult::Signaled));

  // Disabled: every wait ends at once with Abandoned, signalled or not.
  event.SetEnabled(false);
  EXPECT_EQ(event.WaitFor(kInfinite), WaitResult::Abandoned);
  event.ResetEvent();
  EXPECT_EQ(event.WaitFor(kInfinite), WaitResult::Abandoned);
}

TEST(ThreadManagerTest, RegistryIndexesEventsAndStateTexts) {
  RecordingLog log;
  ThreadManager manager;
  EXPECT_EQ(manager.GetThread(0), nullptr);
  Counter a, b;
  SingleThread* first = manager.AddThread("First", &Counter::Work, &a, false);
  SingleThread* second = manager.AddThread("Second", &Counter::Work, &b, true);
  ASSERT_EQ(manager.GetThreadCount(), 2);
  EXPECT_EQ(first->GetIndex(), 0);
  EXPECT_EQ(second->GetIndex(), 1);
  EXPECT_EQ(manager.GetThread(1)->GetThread(), second);
  EXPECT_EQ(manager.GetThread(1)->GetName(), "Second");
  EXPECT_TRUE(second->IsComInit());
  EXPECT_EQ(manager.GetThread(-1), nullptr);
  EXPECT_EQ(manager.GetThread(2), nullptr);
  EXPECT_EQ(second->GetWorkFunc().UserData, &b);

  // Each worker's own event comes from the registry and is thread-owned.
  ASSERT_EQ(manager.GetEventCount(), 2);
  EXPECT_EQ(manager.GetEvent(0), first->GetEvent());
  EXPECT_TRUE(manager.GetEvent(1)->IsThreadOwned());
  KxThreadEvent* shared = manager.CreateEvent("");
  EXPECT_EQ(manager.GetEventCount(), 3);
  EXPECT_EQ(manager.GetEvent(2), shared);
  EXPECT_FALSE(shared->IsThreadOwned());
  EXPECT_EQ(shared->WaitFor(0), WaitResult::Timeout);
  EXPECT_EQ(manager.GetEvent(-1), nullptr);
  EXPECT_EQ(manager.GetEvent(3), nullptr);

  // Constructed suspended: nothing runs before StartAll.
  EXPECT_EQ(first->GetStateText(), "Suspended");
  EXPECT_FALSE(manager.IsRunning());
  EXPECT_EQ(a.calls.load(), 0);
  EXPECT_STREQ(KxThread::StateText(6), "Exception Error");
  EXPECT_STREQ(KxThread::StateText(7), "KxThread UnDefined State");
  EXPECT_STREQ(KxThread::StateText(-1), "KxThread UnDefined State");

  // Stopping workers that never started still returns and ends them.
  manager.StopAll();
  EXPECT_EQ(manager.GetThreadCount(), 0);
  EXPECT_EQ(a.calls.load(), 0);
  EXPECT_TRUE(log.Contains("All Thread Exit OK!"));
}

TEST(ThreadManagerTest, ZeroRunsAgainAtOnceAsBusy) {
  RecordingLog log;
  ThreadManager manager;
  Script script;
  script.results = {0, 0, 0, -1};
  script.worker = manager.AddThread("Busy", &Script::Work, &script, false);
  manager.StartAll();
  EXPECT_TRUE(manager.IsRunning());
  ASSERT_TRUE(WaitUntil([&] { return script.worker->IsFinished(); }));
  EXPECT_EQ(script.States(), (std::vector<std::string>{"Initing..", "Busy", "Busy", "Busy"}));
  EXPECT_EQ(script.lastIndex.load(), 0);
  manager.StopAll();
}

TEST(ThreadManagerTest, OtherNegativeResultsKeepTheState) {
  RecordingLog log;
  ThreadManager manager;
  Script script;
  script.results = {-2, 5, -2, -7, -1};
  script.worker = manager.AddThread("Keep", &Script::Work, &script, false);
  manager.StartAll();
  ASSERT_TRUE(WaitUntil([&] { return script.worker->IsFinished(); }));
  EXPECT_EQ(script.States(),
            (std::vector<std::string>{"Initing..", "Initing..", "Not Busy :)", "Not Busy :)", "Not Busy :)"}));
  manager.StopAll();
}

TEST(ThreadManagerTest, MinusOneEndsTheWorkerAndClearsItsEntry) {
  RecordingLog log;
  ThreadManager manager;
  Script ending;
  ending.results = {-1};
  ending.worker = manager.AddThread("Ending", &Script::Work, &ending, false);
  Counter running;
  SingleThread* other = manager.AddThread("Running", &Counter::Work, &running, false);
  manager.StartAll();
  EXPECT_TRUE(log.Contains("Starting thread : Ending..."));
  EXPECT_TRUE(log.Contains(
      FormatText("Starting thread : Ending OK! CurrentThreadID = %d", static_cast<int>(platform::CurrentThreadId()))));
  ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0)->GetThread() == nullptr; }));
  ASSERT_TRUE(WaitUntil([&] { return ending.worker->IsFinished(); }));
  EXPECT_EQ(ending.calls.load(), 1);
  EXPECT_EQ(ending.worker->GetStateText(), "UnIniting...");
  EXPECT_EQ(manager.GetThread(0)->GetWorker(), ending.worker);
  EXPECT_TRUE(log.Contains("Ending Thread Exit"));
  EXPECT_TRUE(log.Contains(FormatText("Ending  Sys start id = %d; Class Start ID = %d",
                                      static_cast<int>(ending.worker->ThreadID()),
                                      static_cast<int>(ending.worker->ThreadID()))));
  EXPECT_EQ(manager.GetThread(1)->GetThread(), other);

  ASSERT_TRUE(WaitUntil([&] { return running.calls.load() > 0; }));
  manager.StopAll();
  std::vector<std::string> info = log.Texts(llInfo);
  EXPECT_EQ(Count(info, "Ending Thread Prepare Exit"), 0);
  EXPECT_EQ(Count(info, "Running Thread Prepare Exit"), 1);
  EXPECT_EQ(Count(info, "Running Thread Exit"), 1);
  EXPECT_EQ(info.back(), "All Thread Exit OK!");
  EXPECT_FALSE(manager.IsRunning());
  EXPECT_EQ(manager.GetThreadCount(), 0);
}

// A job that blocks on a registry event, as the start worker does.
struct Blocked {
  ThreadManager* manager = nullptr;
  KxThreadEvent* event = nullptr;
  std::atomic<int> first{-1};
  std::atomic<int> second{-1};
  std::atomic<bool> waiting{false};
  std::atomic<int> calls{0};
  std::atomic<pid_t> thread{0};
  static int Work(void* data, int) {
    auto* self = static_cast<Blocked*>(data);
    ++self->calls;
    self->thread = gettid();
    self->waiting = true;
    self->first = static_cast<int>(self->event->WaitFor(kInfinite));
    self->second = static_cast<int>(self->event->WaitFor(kInfinite));
    self->event->ResetEvent();
    if (!self->manager->IsRunning()) return 1;
    return 1;
  }
};

TEST(ThreadManagerTest, StopAllReleasesAWorkerBlockedOnARegistryEvent) {
  RecordingLog log;
  ThreadManager manager;
  Blocked blocked;
  blocked.manager = &manager;
  blocked.event = manager.CreateEvent("");
  manager.AddThread("StartServer", &Blocked::Work, &blocked, false);
  manager.StartAll();
  // Blocked for real: the kernel has the worker asleep, not merely about to wait.
  auto asleep = [&] {
    const std::string stat = ReadFile("/proc/self/task/" + std::to_string(blocked.thread.load()) + "/stat");
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] == 'S';
  };
  ASSERT_TRUE(WaitUntil([&] { return blocked.waiting.load() && asleep(); }));
  manager.StopAll();
  EXPECT_EQ(blocked.first.load(), static_cast<int>(WaitResult::Signaled));
  EXPECT_EQ(blocked.second.load(), static_cast<int>(WaitResult::Abandoned));
  EXPECT_EQ(blocked.calls.load(), 1);
  // From now on every wait on the event ends at once.
  EXPECT_EQ(blocked.event->WaitFor(kInfinite), WaitResult::Abandoned);
  EXPECT_FALSE(blocked.event->IsEnabled());
  EXPECT_TRUE(log.Contains("StartServer Thread Prepare Exit"));
  EXPECT_TRUE(log.Contains("StartServer Thread Exit"));
}

TEST(ThreadManagerTest, LongRestDoesNotDelayStopAll) {
  RecordingLog log;
  ThreadManager manager;
  Counter sleeper;
  sleeper.result = 24 * 3600 * 1000;  // a day's rest
  manager.AddThread("Sleeper", &Counter::Work, &sleeper, false);
  manager.StartAll();
  ASSERT_TRUE(WaitUntil([&] { return sleeper.calls.load() == 1; }));
  manager.StopAll();  // would sleep a day if the rest could not be cut short
  EXPECT_TRUE(log.Contains("Sleeper Thread Exit"));
}

TEST(ThreadManagerTest, StopParksTheWorkerUntilClearStopAndResume) {
  RecordingLog log;
  ThreadManager manager;
  Counter counter;
  SingleThread* worker = manager.AddThread("Parked", &Counter::Work, &counter, false);
  manager.StartAll();
  ASSERT_TRUE(WaitUntil([&] { return counter.calls.load() > 0; }));

  worker->Stop();
  ASSERT_TRUE(WaitUntil([&] { return worker->GetState() == KxThread::tsSuspended; }));
  EXPECT_TRUE(worker->IsSuspended());
  EXPECT_FALSE(worker->CanRun());
  EXPECT_FALSE(worker->GetEvent()->IsSignaled());  // reset by the controller
  std::vector<std::string> lines;
  for (const auto& line : log.Lines())
    if (line.text.rfind("Parked Stop", 0) == 0 || line.text == "Parked Thread Stop")
      lines.push_back(LogLevelName(line.level) + std::string(":") + line.text);
  EXPECT_EQ(lines, (std::vector<std::string>{" Info:Parked Stopping...", " Warn:Parked Thread Stop",
                                             " Info:Parked Stopp OK"}));
  // A second stop of a parked worker returns at once.
  worker->Stop();

  int before = counter.calls.load();
  worker->ClearStop();
  worker->Resume();
  ASSERT_TRUE(WaitUntil([&] { return counter.calls.load() > before; }));
  EXPECT_TRUE(worker->CanRun());

  // Stopped again and then ended by StopAll while parked.
  worker->Stop();
  ASSERT_TRUE(WaitUntil([&] { return worker->IsSuspended(); }));
  manager.StopAll();
  EXPECT_TRUE(log.Contains("Parked Thread Exit"));
}

TEST(ThreadManagerTest, AnExceptionEndsOnlyItsWorker) {
  RecordingLog log;
  ThreadManager manager;
  SingleThread* bad = manager.AddThread("Bad", &Throwing, nullptr, false);
  Counter good;
  manager.AddThread("Good", &Counter::Work, &good, false);
  manager.StartAll();
  ASSERT_TRUE(WaitUntil([&] { return bad->IsFinished(); }));
  EXPECT_EQ(bad->GetState(), KxThread::tsException);
  EXPECT_EQ(bad->GetStateText(), "Exception Error");

  // "<name> <type>: <message> <throw address> <stack of the throw>".
  std::vector<std::string> errors = log.Texts(llError);
  ASSERT_EQ(errors.size(), 1u);
  const std::string prefix = "Bad std::runtime_error: work failed ";
  ASSERT_EQ(errors[0].rfind(prefix, 0), 0u) << errors[0];
  std::size_t blank = errors[0].find(' ', prefix.size());
  ASSERT_NE(blank, std::string::npos);
  EXPECT_NE(std::stoul(errors[0].substr(prefix.size(), blank - prefix.size()), nullptr, 16), 0u) << errors[0];
  std::string stack = errors[0].substr(blank + 1);
  ASSERT_EQ(stack.rfind("Exception Call Stack:\r\n#0 ", 0), 0u) << stack;
  EXPECT_NE(stack.find("FailDeepInside"), std::string::npos) << "the stack of the throw: " << stack;
  // The exit callback is not called: the entry still refers to the worker.
  EXPECT_FALSE(log.Contains("Bad Thread Exit"));
  EXPECT_EQ(manager.GetThread(0)->GetThread(), bad);

  int calls = good.calls.load();
  ASSERT_TRUE(WaitUntil([&] { return good.calls.load() > calls + 2; }));
  EXPECT_TRUE(manager.IsRunning());
  bad->Stop();  // an ended worker cannot answer a stop; this must not wait for it
  manager.StopAll();
  EXPECT_TRUE(log.Contains("Bad Thread Prepare Exit"));
  EXPECT_TRUE(log.Contains("Good Thread Exit"));
}

// A work function that stops the whole registry, its own worker included.
struct RegistryCloser {
  ThreadManager* manager = nullptr;
  std::atomic<int> calls{0};
  std::atomic<bool> returned{false};
  static int Work(void* data, int) {
    auto* self = static_cast<RegistryCloser*>(data);
    ++self->calls;
    self->manager->StopAll();
    self->returned = true;
    return 0;  // "again at once": the worker must see that it was ended instead
  }
};

TEST(ThreadManagerTest, AWorkFunctionThatStopsItsOwnRegistryEndsItsWorkerSafely) {
  RecordingLog log;
  RegistryCloser closer;
  Counter other;
  {
    ThreadManager manager;
    closer.manager = &manager;
    manager.AddThread("Other", &Counter::Work, &other, false);
    manager.AddThread("Closer", &RegistryCloser::Work, &closer, false);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return log.Contains("Closer Thread Exit"); }));
    EXPECT_TRUE(closer.returned.load());
    EXPECT_EQ(closer.calls.load(), 1);
    EXPECT_EQ(manager.GetThreadCount(), 0);
    EXPECT_FALSE(manager.IsRunning());
    EXPECT_TRUE(log.Contains("Other Thread Exit"));
    EXPECT_TRUE(log.Contains("All Thread Exit OK!"));
    // The registry works on: a new worker runs and ends as usual.
    Counter later;
    later.result = -1;
    SingleThread* worker = manager.AddThread("Later", &Counter::Work, &later, false);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return worker->IsFinished(); }));
    manager.StopAll();
  }
  EXPECT_EQ(closer.calls.load(), 1);
}

// CPU samples with scripted times and a scripted multimedia timer.
class ScriptedClock : public platform::Clock {
 public:
  uint32_t tick = 0;
  uint32_t TickCount() override { return tick; }
};

class SampledThread : public KxThread {
 public:
  explicit SampledThread(ThreadManager* registry) : KxThread("Sampled", false, registry) {}
  platform::CpuTimes process, thread;
  bool readable = true;

 protected:
  bool ReadCpuTimes(platform::CpuTimes* p, platform::CpuTimes* t) override {
    *p = process;
    *t = thread;
    return readable;
  }
};

TEST(KxThreadTest, CpuSamples) {
  ScriptedClock clock;
  platform::SetClockForTesting(&clock);
  ThreadManager manager;
  SampledThread sampled(&manager);
  auto at = [&](uint32_t tick, uint64_t pk, uint64_t pu, uint64_t tk, uint64_t tu) {
    clock.tick = tick;
    sampled.process = {pk, pu};
    sampled.thread = {tk, tu};
    sampled.SampleCpu();
  };

  // The first sample only stores.
  at(5000, 10000, 20000, 1000, 2000);
  EXPECT_EQ(sampled.GetCpuUsage(), 0);
  // 500 of the process's 1000 units, 100 of them in kernel mode.
  at(6000, 10400, 20600, 1100, 2400);
  EXPECT_EQ(sampled.GetCpuUsage(), 50);
  EXPECT_EQ(sampled.GetKernelCpuUsage(), 10);
  // Less than 1000 ms later: nothing changes, nothing is stored.
  at(6999, 90000, 90000, 90000, 0);
  EXPECT_EQ(sampled.GetCpuUsage(), 50);
  EXPECT_EQ(sampled.GetKernelCpuUsage(), 10);
  // Measured against the sample at 6000; 2 of 3 truncates to 66.
  at(7000, 10700, 20600, 1100, 2600);
  EXPECT_EQ(sampled.GetCpuUsage(), 66);
  EXPECT_EQ(sampled.GetKernelCpuUsage(), 0);
  // No process time in the interval: both read 0.
  at(8000, 10700, 20600, 1100, 2600);
  EXPECT_EQ(sampled.GetCpuUsage(), 0);
  // A failed read changes nothing.
  sampled.readable = false;
  at(9000, 11700, 21600, 1600, 2600);
  EXPECT_EQ(sampled.GetCpuUsage(), 0);
  sampled.readable = true;
  at(9000, 11700, 21600, 1600, 2600);
  EXPECT_EQ(sampled.GetCpuUsage(), 25);
  EXPECT_EQ(sampled.GetKernelCpuUsage(), 25);

  // With no process kernel time yet, a sample only stores.
  SampledThread fresh(&manager);
  clock.tick = 5000;
  fresh.process = {0, 500};
  fresh.SampleCpu();
  clock.tick = 7000;
  fresh.process = {100, 600};
  fresh.thread = {100, 100};
  fresh.SampleCpu();
  EXPECT_EQ(fresh.GetCpuUsage(), 0);
  platform::SetClockForTesting(nullptr);
}

}  // namespace
