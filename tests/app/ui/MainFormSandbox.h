#pragma once
// A machine of its own for a main window under test: a temporary folder
// (with a space in its name) holding the player's folder, HOME with its
// session script, XDG_CONFIG_HOME and the file browser's drive; a process
// list that holds only what the test puts in it; a runner that records the
// programs and system requests instead of starting them; fixed sound devices.
// HOME and XDG_CONFIG_HOME point into the folder while the sandbox lives.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MainFormServices.h"
#include "audio/outputs/AsioList.h"

namespace lirvo::test {

class TListProcessSource final : public IProcessSource {
 public:
  std::vector<pid_t> Pids;
  std::vector<pid_t> GetProcessIdList() override { return Pids; }
};

class TRecordingRunner final : public ICommandRunner {
 public:
  struct TCall {
    std::string Kind;  // "start" or "run"
    std::string Program;
    std::vector<std::string> Args;
  };
  std::vector<TCall> Calls;
  // Runs at each call before it is recorded (tests look at the files then).
  std::function<void(const TCall&)> OnCall;
  bool Accept = true;

  bool StartDetached(const std::string& Program, const std::vector<std::string>& Args) override {
    return Record({"start", Program, Args});
  }
  bool Run(const std::string& Program, const std::vector<std::string>& Args) override {
    return Record({"run", Program, Args});
  }
  bool IsInstalled(const std::string&) override { return false; }

 private:
  bool Record(TCall Call) {
    if (OnCall) OnCall(Call);
    Calls.push_back(std::move(Call));
    return Accept;
  }
};

class TMainFormSandbox {
 public:
  // AsioDrivers: names of the direct drivers the ASIO output lists.
  explicit TMainFormSandbox(std::vector<std::string> AsioDrivers = {"JACK"})
      : FTmp(QDir::tempPath() + QStringLiteral("/lirvo window XXXXXX")),
        FAsioDrivers(std::move(AsioDrivers)) {
    for (const char* sub : {"player dir", "home dir", "config", "music"})
      QDir(FTmp.path()).mkpath(QString::fromLatin1(sub));
    FOldHome = qgetenv("HOME");
    FOldXdg = qgetenv("XDG_CONFIG_HOME");
    FHadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("HOME", Path("home dir").toUtf8());
    qputenv("XDG_CONFIG_HOME", Path("config").toUtf8());
    Processes = std::make_shared<TListProcessSource>();
    Runner = std::make_shared<TRecordingRunner>();
  }

  ~TMainFormSandbox() {
    qputenv("HOME", FOldHome);
    if (FHadXdg) {
      qputenv("XDG_CONFIG_HOME", FOldXdg);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }

  QString Path(const char* Sub) const { return FTmp.path() + u'/' + QString::fromUtf8(Sub); }
  std::string StdPath(const char* Sub) const { return Path(Sub).toStdString(); }

  std::string SettingsFile() const { return StdPath("player dir/lirvo.ini"); }
  std::string PlaylistFile() const { return StdPath("player dir/lirvo.xpl"); }
  std::string PlayerPath() const { return StdPath("player dir/lirvo"); }

  void WriteSettings(const QByteArray& Text) const { WriteFile("player dir/lirvo.ini", Text); }
  QByteArray ReadSettings() const { return ReadFile("player dir/lirvo.ini"); }

  void WriteFile(const char* Sub, const QByteArray& Text) const {
    QFile f(Path(Sub));
    if (f.open(QIODevice::WriteOnly)) f.write(Text);
  }
  QByteArray ReadFile(const char* Sub) const {
    QFile f(Path(Sub));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  TMainFormServices Services() {
    TMainFormServices s;
    s.Paths.ExeDir = StdPath("player dir");
    s.Paths.XdgConfigHome = StdPath("config");
    s.Paths.Home = StdPath("home dir");
    s.Processes = Processes;
    // No own process: the tests' process keeps its priority and processors.
    s.OptimizerEnv.OwnPid = 0;
    s.OptimizerEnv.CpuCount = 2;
    s.OptimizerEnv.MmcssAvailable = true;
    s.OptimizerEnv.JoinProAudio = [this] {
      ++ProAudioJoins;
      return true;
    };
    s.OptimizerEnv.SetTimerResolution = [this](uint32_t Resolution, bool) {
      ++TimerRequests;
      return Resolution;
    };
    s.ProcessorCount = 2;
    s.Runner = Runner;
    s.ShellFiles = {StdPath("home dir/.xsession"), StdPath("home dir/.xsession.lirvo-save")};
    s.PlayerPath = PlayerPath();
    s.Quit = [this] { ++Quits; };
    s.DSoundDevices = std::vector<TDsDeviceEntry>{{"默认设备", "null", ""}, {"Second", "null", ""}};
    s.DriveRoots = QStringList{Path("music")};
    s.Audio.Outputs.AsioDrivers = [names = FAsioDrivers] {
      TAsioDriverList list;
      for (const std::string& name : names)
        list.push_back(MakeAsioDriverDesc(CLSID_JackDriver, name, "lirvo-test-none"));
      return list;
    };
    return s;
  }

  std::shared_ptr<TListProcessSource> Processes;
  std::shared_ptr<TRecordingRunner> Runner;
  int ProAudioJoins = 0;
  int TimerRequests = 0;
  int Quits = 0;

 private:
  QTemporaryDir FTmp;
  std::vector<std::string> FAsioDrivers;  // the direct drivers the ASIO output lists
  QByteArray FOldHome;
  QByteArray FOldXdg;
  bool FHadXdg = false;
};

}  // namespace lirvo::test
