// Stream capture through temporary files, which, unlike pipes, cannot fill
// up and stall a child that writes a lot.
#include "capture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

static std::string readAll(FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) text.append(chunk, got);
  std::fclose(file);
  return text;
}

Captured runInChild(const std::function<int()>& body, unsigned timeoutSeconds) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) std::abort();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) std::abort();
  if (child == 0) {
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    std::signal(SIGALRM, SIG_DFL);
    alarm(timeoutSeconds);
    const int status = body();
    std::fflush(nullptr);
    _exit(status);
  }
  int waitStatus = 0;
  while (waitpid(child, &waitStatus, 0) < 0) {
  }
  Captured captured{readAll(out), readAll(err), 0};
  captured.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  return captured;
}

Captured runProgram(const std::string& path, const std::vector<std::string>& arguments, unsigned timeoutSeconds) {
  return runInChild(
      [&] {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        std::perror("execv");
        return 127;
      },
      timeoutSeconds);
}

Captured runHere(const std::function<int()>& body) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) std::abort();
  std::fflush(nullptr);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  dup2(fileno(out), STDOUT_FILENO);
  dup2(fileno(err), STDERR_FILENO);
  const int status = body();
  std::fflush(nullptr);
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  return Captured{readAll(out), readAll(err), status};
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  for (const std::string& line : linesOf(text)) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}
