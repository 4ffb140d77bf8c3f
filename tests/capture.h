// Running code with its standard output and standard error captured.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Captured {
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
  int status;       // the exit status, the body's result, or 128 + signal
};

// Runs body in a child process and captures its streams. The child ends
// with body's result unless body ends the process itself; one still running
// after timeoutSeconds is killed (status 128 + SIGALRM).
Captured runInChild(const std::function<int()>& body, unsigned timeoutSeconds = 120);

// Runs the program at path with arguments in a child process.
Captured runProgram(const std::string& path, const std::vector<std::string>& arguments, unsigned timeoutSeconds = 120);

// Runs body in this process with its streams captured; status is its result.
Captured runHere(const std::function<int()>& body);

// The lines of text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

// The lines of text that begin with prefix, in order.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix);
