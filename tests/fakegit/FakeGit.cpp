// A stand-in for git where the real one cannot run (from wine, a Linux git's
// output cannot be captured) or cannot be made to misbehave on demand. For one
// of repodeck's command lines it follows the script ".fakegit-KEY" in the
// working folder, else KEY in the folder FAKEGIT_SCRIPTS names (KEY: version,
// status, remote, fetch, pull, submodule, summary, config); without one,
// "--version" prints a version line. A line: print TEXT / error TEXT (\n, \t,
// \0, \\ in TEXT), count N (1 to N, like seq), env NAME, sleep MS, exit CODE,
// touch FILE, await FILE (300 s at most); hold MS: a grandchild keeps the output
// open, its id in "grandchild.pid"; detach MS: the same in a session of its own
// (Linux; elsewhere like hold); chatter MS: detach, writing "tick" every 50 ms.
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
#define sleepMs(ms) Sleep(DWORD(ms))
#else
#include <unistd.h>
#define sleepMs(ms) usleep(useconds_t(ms) * 1000)
#endif

namespace {

void put(FILE* stream, const std::string& bytes) {
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);  // each line of the script reaches the pipe before the next runs
}

void hold(long ms, bool writes) {
    for (long waited = 0; writes && waited < ms; waited += 50)
        put(stdout, "tick\n"), sleepMs(50);
    if (!writes)
        sleepMs(ms);
}

long startHolder(long ms, bool ownSession, bool writes) {
#ifdef _WIN32
    (void)ownSession;  // the job holds every process the child starts
    std::string line = (writes ? "git --chatter " : "git --hold ") + std::to_string(ms);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
        exit(97);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return long(started.dwProcessId);
#else
    pid_t pid = fork();
    if (pid == 0) {
        if (ownSession)
            setsid();
        hold(ms, writes);
        _exit(0);
    }
    return long(pid);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    for (FILE* stream : {stdin, stdout, stderr})  // bytes as they are, no CR added
        _setmode(_fileno(stream), _O_BINARY);
#endif
    if (argc == 3 && (strcmp(argv[1], "--hold") == 0 || strcmp(argv[1], "--chatter") == 0))
        return hold(atol(argv[2]), argv[1][2] == 'c'), 0;
    std::string line = "git", key;
    for (int i = 1; i < argc; i++)
        line += std::string(" ") + argv[i];
    for (const auto& [commandLine, name] : {std::pair{git::version, "version"}, {git::status, "status"},
                                            {git::remote, "remote"}, {git::fetch, "fetch"}, {git::pull, "pull"},
                                            {git::submoduleUpdate, "submodule"}, {git::summary, "summary"},
                                            {git::configList, "config"}})
        if (line == commandLine)
            key = name;
    if (key.empty())
        return fprintf(stderr, "fakegit: not one of repodeck's command lines\n"), 129;

    std::ifstream file(".fakegit-" + key, std::ios::binary);
    if (!file && getenv("FAKEGIT_SCRIPTS"))
        file.open(std::string(getenv("FAKEGIT_SCRIPTS")) + "/" + key, std::ios::binary);
    if (!file && key == "version")
        put(stdout, "git version 2.39.5 (repodeck stand-in)\n");
    for (std::string step; std::getline(file, step);) {
        if (!step.empty() && step.back() == '\r')
            step.pop_back();
        size_t blank = step.find(' ');
        std::string verb = step.substr(0, blank), argument = blank == step.npos ? "" : step.substr(blank + 1), text;
        long number = atol(argument.c_str());
        if (verb == "print" || verb == "error") {
            for (size_t i = 0; i < argument.size(); i++) {
                char c = argument[i];
                if (c == '\\' && i + 1 < argument.size())
                    c = argument[++i] == 'n' ? '\n' : argument[i] == 't' ? '\t' : argument[i] == '0' ? '\0' : argument[i];
                text += c;
            }
            put(verb == "print" ? stdout : stderr, text);
        } else if (verb == "count") {
            for (long i = 1; i <= number; i++)
                if ((text += std::to_string(i) + "\n").size() >= 65536 || i == number)  // huge outputs in pieces
                    put(stdout, text), text.clear();
        } else if (verb == "env") {
            put(stdout, std::string(getenv(argument.c_str()) ? getenv(argument.c_str()) : "(unset)") + "\n");
        } else if (verb == "sleep") {
            sleepMs(number);
        } else if (verb == "touch") {
            std::ofstream{argument};
        } else if (verb == "await") {
            for (int i = 0; i < 3000 && !std::ifstream(argument); i++)
                sleepMs(100);
        } else if (verb == "hold" || verb == "detach" || verb == "chatter") {
            std::ofstream("grandchild.pid") << startHolder(number, verb != "hold", verb == "chatter") << "\n";
        } else if (verb == "exit") {
            return int(number);
        } else if (!verb.empty()) {
            return fprintf(stderr, "fakegit: unknown line %s\n", step.c_str()), 98;
        }
    }
    return 0;
}
