// A stand-in for git where the real one cannot run (from wine, a Linux git's
// output cannot be captured) or cannot be made to misbehave on demand.
//
// It accepts repodeck's git command lines. What it does is read from a script:
// the file ".fakegit-KEY" in the working folder, else the file KEY in the folder
// named by FAKEGIT_SCRIPTS, where KEY is version, status, remote, fetch, pull,
// submodule or summary. Without a script, "--version" prints a version line and
// the others print nothing; all exit 0. One directive per script line:
//   print TEXT   TEXT to standard output (\n, \t, \0 and \\ are understood)
//   error TEXT   TEXT to standard error
//   count N      the lines 1 to N, like seq
//   env NAME     the variable's value and a line break ("(unset)" without one)
//   input        reads standard input to its end, then prints "input: N bytes\n"
//   sleep MS     waits MS milliseconds
//   touch FILE   creates FILE;  await FILE  waits (at most 300 s) until it exists
//   hold MS      starts a grandchild that keeps the output open for MS ms and
//                writes its process id to "grandchild.pid"; "detach MS" does the
//                same from a session of its own (Linux only, else like hold)
//   exit CODE    ends at once with CODE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "exec/Git.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            c = text[++i];
            c = c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
        }
        out += c;
    }
    return out;
}

void put(FILE* stream, const std::string& bytes) {
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);  // each directive reaches the pipe before the next one runs
}

void pause(long milliseconds) {
#ifdef _WIN32
    Sleep(DWORD(milliseconds));
#else
    usleep(useconds_t(milliseconds) * 1000);
#endif
}

// The grandchild inherits the output and only waits.
void startHolder(long milliseconds, bool ownSession) {
    long id = 0;
#ifdef _WIN32
    (void)ownSession;  // a job holds every process its child starts
    std::string line = "git --hold " + std::to_string(milliseconds);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (!CreateProcessA(path, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
        exit(97);
    id = long(started.dwProcessId);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
#else
    pid_t pid = fork();
    if (pid == 0) {
        if (ownSession)
            setsid();
        pause(milliseconds);
        _exit(0);
    }
    id = long(pid);
#endif
    std::ofstream("grandchild.pid") << id << "\n";
}

// The script key of the command line repodeck ran, or empty for any other.
std::string keyOf(int argc, char** argv) {
    std::string line = "git";
    for (int i = 1; i < argc; i++)
        line += std::string(" ") + argv[i];
    const char* const known[][2] = {
        {git::version, "version"}, {git::status, "status"}, {git::remote, "remote"},     {git::fetch, "fetch"},
        {git::pull, "pull"},       {git::submoduleUpdate, "submodule"}, {git::summary, "summary"},
    };
    for (const auto& [commandLine, key] : known)
        if (line == commandLine)
            return key;
    return {};
}

bool readScript(const std::string& key, std::string& script) {
    std::ifstream local(".fakegit-" + key, std::ios::binary);
    const char* folder = getenv("FAKEGIT_SCRIPTS");
    if (!local && folder)
        local.open(std::string(folder) + "/" + key, std::ios::binary);
    std::ostringstream text;
    text << local.rdbuf();
    script = text.str();
    return bool(local);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Bytes as written: no "\n" to "\r\n" translation on the way out.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (argc == 3 && strcmp(argv[1], "--hold") == 0) {
        pause(atol(argv[2]));
        return 0;
    }
    std::string key = keyOf(argc, argv), script;
    if (key.empty()) {
        fprintf(stderr, "fakegit: not one of repodeck's command lines\n");
        return 129;
    }
    if (!readScript(key, script)) {
        if (key == "version")
            put(stdout, "git version 2.39.5 (repodeck stand-in)\n");
        return 0;
    }

    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t blank = line.find(' ');
        std::string directive = line.substr(0, blank);
        std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
        long number = atol(argument.c_str());
        if (directive == "print" || directive == "error") {
            put(directive == "print" ? stdout : stderr, unescape(argument));
        } else if (directive == "count") {
            std::string text;
            for (long i = 1; i <= number; i++) {
                text += std::to_string(i) + "\n";
                if (text.size() >= 65536 || i == number)  // in pieces: the output may be huge
                    put(stdout, text), text.clear();
            }
        } else if (directive == "env") {
            const char* value = getenv(argument.c_str());
            put(stdout, std::string(value ? value : "(unset)") + "\n");
        } else if (directive == "input") {
            size_t total = 0;
            char buffer[4096];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, stdin)) > 0;)
                total += n;
            put(stdout, "input: " + std::to_string(total) + " bytes\n");
        } else if (directive == "sleep") {
            pause(number);
        } else if (directive == "touch") {
            std::ofstream{argument};
        } else if (directive == "await") {
            for (int i = 0; i < 3000 && !std::ifstream(argument); i++)
                pause(100);
        } else if (directive == "hold" || directive == "detach") {
            startHolder(number, directive == "detach");
        } else if (directive == "exit") {
            return int(number);
        } else if (!directive.empty()) {
            fprintf(stderr, "fakegit: unknown directive %s\n", directive.c_str());
            return 98;
        }
    }
    return 0;
}
