// The logger set-up: a rolling log file and the debugger output on one
// category, made once per load, and detached again at unload.
#include "log/logger.h"

#include <log4cpp/Category.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/NDC.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/RollingFileAppender.hh>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "log/log_environment.h"
#include "log/log_level.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <log4cpp/Win32DebugAppender.hh>
#endif

namespace devicecode {

const char kBeginMessage[] = "[GetDeviceCode]\xA3\xBA Begin";
const char kEndMessage[] = "[GetDeviceCode]\xA3\xBA End";

namespace {

constexpr char kFilePattern[] = "%d: %p %c%x: %m%n";
constexpr char kDebugPattern[] = "%p %c%x: %m%n";
constexpr char kFailureMessage[] = "Initialize log model fail\n";

// The rolling log file, its descriptor kept out of child processes from its
// first open on, and never a file another user planted (platform.h,
// PrepareLogFile): the constructor's own open goes to a name that reaches
// nothing yet, and the file is opened with the final flags, which every
// roll-over's reopen then uses too.
class LogFileAppender : public log4cpp::RollingFileAppender {
 public:
  explicit LogFileAppender(const platform::LogFile& file)
      : RollingFileAppender("rollfileAppender", file.name, 1048576, 5, true, 0644), file_(file) {
    _flags |= file_.flags;
    if (platform::ActivateLogFile(file_)) reopen();
    if (_fd >= 0 && !platform::AcceptLogFile(file_, _fd)) close();
  }
  ~LogFileAppender() override { platform::ReleaseLogFile(file_); }
  LogFileAppender(const LogFileAppender&) = delete;
  LogFileAppender& operator=(const LogFileAppender&) = delete;
  // Descriptor 0 is a valid file too (a host may have closed its stdin).
  bool IsOpen() const { return _fd >= 0; }

 protected:
  // log4cpp calls appenders from functions declared throw(): an exception
  // (memory exhausted while formatting) would end the host process.
  void _append(const log4cpp::LoggingEvent& event) override {
    try {
      RollingFileAppender::_append(event);
    } catch (...) {
    }
  }

  // log4cpp's roll-over closes the file first and then builds the copies'
  // names, which can run out of memory: the descriptor number it would keep
  // may by then name a file the host opened. Open the log anew instead.
  void rollOver() override {
    try {
      RollingFileAppender::rollOver();
    } catch (...) {
      _fd = -1;
      reopen();
    }
    // The new file is judged as the first was: in a shared folder another
    // user may have planted one under the name since. Refused, the lines go
    // nowhere rather than into someone else's file.
    if (_fd >= 0 && !platform::AcceptLogFile(file_, _fd)) close();
  }

 private:
  const platform::LogFile file_;
};

#ifndef _WIN32
// The debugger output where log4cpp's Win32DebugAppender does not exist:
// each formatted line goes to the platform's debugger output.
class DebugOutputAppender : public log4cpp::LayoutAppender {
 public:
  explicit DebugOutputAppender(const std::string& name) : LayoutAppender(name) {}
  void close() override {}

 protected:
  // Never throws, for the reason given at LogFileAppender::_append.
  void _append(const log4cpp::LoggingEvent& event) override {
    try {
      platform::OutputDebugStringA(_getLayout().format(event).c_str());
    } catch (...) {
    }
  }
};
using DebugAppender = DebugOutputAppender;
#else
// log4cpp's debugger appender, kept from throwing like ours.
class DebugAppender : public log4cpp::Win32DebugAppender {
 public:
  using Win32DebugAppender::Win32DebugAppender;

 protected:
  void _append(const log4cpp::LoggingEvent& event) override {
    try {
      Win32DebugAppender::_append(event);
    } catch (...) {
    }
  }
};
#endif

// A pattern layout that gives whole lines or none. When memory runs out while
// a line is formatted, the stream inside PatternLayout stops silently and
// returns the line cut short, which log4cpp would write as is; both patterns
// end with a line feed, so a line without one is such a cut line. The throw
// reaches the appender's own handler and costs that line only.
class WholeLineLayout : public log4cpp::PatternLayout {
 public:
  std::string format(const log4cpp::LoggingEvent& event) override {
    std::string line = PatternLayout::format(event);
    if (line.empty() || line.back() != '\n') throw std::bad_alloc();
    return line;
  }
};

std::unique_ptr<log4cpp::Layout> MakeLayout(const char* pattern) {
  auto layout = std::make_unique<WholeLineLayout>();
  layout->setConversionPattern(pattern);
  return layout;
}

std::unique_ptr<LogFileAppender> OpenLogFile(const std::string& path) {
  const platform::LogFile file = platform::PrepareLogFile(path);
  std::unique_ptr<LogFileAppender> appender;
  try {
    appender = std::make_unique<LogFileAppender>(file);
  } catch (...) {
    // Out of memory before the appender took the file: give back what was
    // reserved for it.
    platform::ActivateLogFile(file);
    platform::ReleaseLogFile(file);
    throw;
  }
  if (!appender->IsOpen()) appender.reset();
  return appender;
}

// The process-wide state of one load. Its destructor runs when the library is
// unloaded (or the process ends): log4cpp lives on in its own shared library,
// so our appenders, whose code is ours, must leave the category before our
// code goes; that also closes the log file.
class LoggerState {
 public:
  // Touching log4cpp's hierarchy first makes it outlive this object at exit,
  // so the destructor below still finds it.
  LoggerState() { log4cpp::Category::getRoot(); }
  ~LoggerState() { Detach(); }

  std::string Name() {
    if (!done_.load(std::memory_order_acquire)) {
      std::lock_guard<std::mutex> hold(lock_);
      if (!done_.load(std::memory_order_relaxed)) {
        SetUp();
        done_.store(true, std::memory_order_release);
      }
    }
    return keptName_;
  }

  void Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    Detach();
    keptName_.clear();
    done_.store(false, std::memory_order_release);
  }

 private:
  void SetUp() {
    try {
      attached_.reserve(2);  // so that noting an attached appender cannot fail
      LogEnvironment environment = DiscoverLogEnvironment();
      // The option file first, then plugin.ini.
      const std::uint32_t optionLevel =
          ReadOptionLogLevel(environment.configFolder, environment.tempFolder);
      const LogPlan plan = PlanLogSetUp(std::move(environment), optionLevel, ReadPluginLogLevel());
      Execute(plan);
    } catch (...) {
      platform::OutputDebugStringA(kFailureMessage);
    }
  }

  void Execute(const LogPlan& plan) {
    // A folder that exists already, or cannot be made, changes nothing: the
    // file then opens in the next path.
    for (const std::string& folder : plan.foldersToCreate) {
      platform::CreateDirectoryA(folder.c_str());
    }
    const std::string& name = plan.environment.categoryName;
    log4cpp::Category& category = log4cpp::Category::getInstance(name);
    attachedCategory_ = name;
    // Our lines go to our appenders only, never to a host's appenders on
    // log4cpp's root or on our category's ancestors.
    category.setAdditivity(false);

    std::unique_ptr<LogFileAppender> file;
    for (const std::string& path : plan.logFiles) {
      if ((file = OpenLogFile(path))) break;
    }
    if (file) {
      file->setLayout(MakeLayout(kFilePattern).release());
      Attach(category, std::move(file));
    }

    auto debugLayout = MakeLayout(kDebugPattern);
    auto debug = std::make_unique<DebugAppender>("debugAppender");
    debug->setLayout(debugLayout.release());
    Attach(category, std::move(debug));

    category.setPriority(static_cast<log4cpp::Priority::Value>(plan.logLevel));
    keptName_ = name;
  }

  // Gives `appender` to the category, which then owns it, and notes it for
  // Detach. Ownership passes only once the category has taken it: if
  // addAppender runs out of memory, the appender (and its open file) goes
  // with the unique_ptr, after leaving the category's set if it got there.
  template <typename AppenderType>
  void Attach(log4cpp::Category& category, std::unique_ptr<AppenderType> appender) {
    log4cpp::Appender* raw = appender.get();
    try {
      category.addAppender(raw);
    } catch (...) {
      category.removeAppender(raw);  // not yet owned: only taken out of the set
      throw;
    }
    appender.release();
    attached_.push_back(raw);
  }

  // Removes our own appenders only (the category deletes them, closing the
  // file): another copy of the library with the same file names shares the
  // category and keeps its appenders.
  void Detach() {
    if (attachedCategory_.empty()) return;
    if (log4cpp::Category* category = log4cpp::Category::exists(attachedCategory_)) {
      for (log4cpp::Appender* appender : attached_) category->removeAppender(appender);
    }
    attached_.clear();
    attachedCategory_.clear();
  }

  std::mutex lock_;
  std::atomic<bool> done_{false};
  std::string keptName_;
  std::string attachedCategory_;
  // The appenders we attached, kept only to detach them at unload.
  std::vector<log4cpp::Appender*> attached_;
};

LoggerState& TheLogger() {
  static LoggerState state;
  return state;
}

}  // namespace

LogPlan PlanLogSetUp(LogEnvironment environment, std::uint32_t optionLogLevel,
                     std::uint32_t pluginLogLevel) {
  LogPlan plan;
  plan.optionLogLevel = optionLogLevel;
  plan.pluginLogLevel = pluginLogLevel;
  plan.logLevel = CombineLogLevels(optionLogLevel, pluginLogLevel);
  // log4cpp compares priorities as signed numbers, and a category at NOTSET
  // (800) or above takes its nearest ancestor's, log4cpp's root at INFO: so
  // INFO passes from 600 up, and never from 2^31 up.
  plan.requestLinesWritten = static_cast<std::int32_t>(plan.logLevel) >= log4cpp::Priority::INFO;
  // An empty folder is none (never the current folder).
  for (const std::string* folder : {&environment.logFolder, &environment.tempFolder}) {
    if (!folder->empty()) plan.logFiles.push_back(*folder + environment.logFileName);
  }
  plan.foldersToCreate = environment.foldersToCreate;
  plan.environment = std::move(environment);
  return plan;
}

std::string GetLogCategoryName() { return TheLogger().Name(); }

void WriteRequestLine(const char* message) noexcept {
  try {
    const std::string name = GetLogCategoryName();
    // After a failed set-up the empty name would be log4cpp's root category,
    // which belongs to the host.
    if (name.empty()) return;
    log4cpp::Category& category = log4cpp::Category::getInstance(name);
    if (!category.isPriorityEnabled(log4cpp::Priority::INFO)) return;
    // What Category::info does, but Category::info is declared throw(): an
    // allocation failing while it builds the event would end the host
    // process. Built here, the failure is caught below; the appenders
    // themselves never throw.
    category.callAppenders(
        log4cpp::LoggingEvent(name, message, log4cpp::NDC::get(), log4cpp::Priority::INFO));
  } catch (...) {
    // The log never fails a request.
  }
}

void ResetLoggerForTesting() { TheLogger().Reset(); }

}  // namespace devicecode
