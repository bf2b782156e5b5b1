#include "app/logic/system/CommandRunner.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace lirvo {

namespace {

bool IsExecutableFile(const std::string& Path) {
  struct stat st {};
  return stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(Path.c_str(), X_OK) == 0;
}

// argv for exec, pointing into Args (which must stay alive).
std::vector<char*> MakeArgv(const std::string& Path, const std::vector<std::string>& Args,
                            std::string& Arg0) {
  Arg0 = Path;
  std::vector<char*> argv;
  argv.push_back(Arg0.data());
  for (const std::string& a : Args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::string FindExecutable(const std::string& Program) {
  if (Program.empty()) return {};
  if (Program.find('/') != std::string::npos) return IsExecutableFile(Program) ? Program : "";
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + Program;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

bool TSystemCommandRunner::StartDetached(const std::string& Program,
                                         const std::vector<std::string>& Args) {
  // Everything the children need is prepared here: after fork only
  // async-signal-safe calls are made.
  const std::string path = FindExecutable(Program);
  if (path.empty()) return false;
  std::string arg0;
  std::vector<char*> argv = MakeArgv(Program, Args, arg0);

  // The exec error travels back through a close-on-exec pipe: end of file
  // means the program is running.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    // The player may run at high or real-time priority on some processors;
    // a program it starts begins as an ordinary one.
    struct sched_param sp {};
    sched_setscheduler(0, SCHED_OTHER, &sp);
    setpriority(PRIO_PROCESS, 0, 0);
    cpu_set_t all;
    CPU_ZERO(&all);
    for (int i = 0; i < CPU_SETSIZE; ++i)
      CPU_SET(i, &all);
    sched_setaffinity(0, sizeof(all), &all);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    execve(path.c_str(), argv.data(), environ);
    int err = errno;
    ssize_t ignored = write(fds[1], &err, sizeof(err));
    (void)ignored;
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = read(fds[0], &err, sizeof(err))) < 0 && errno == EINTR) {
  }
  close(fds[0]);
  const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return forked && n == 0;
}

bool TSystemCommandRunner::Run(const std::string& Program, const std::vector<std::string>& Args) {
  const std::string path = FindExecutable(Program);
  if (path.empty()) return false;
  std::string arg0;
  std::vector<char*> argv = MakeArgv(Program, Args, arg0);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TSystemCommandRunner::IsInstalled(const std::string& Program) {
  return !FindExecutable(Program).empty();
}

}  // namespace lirvo
