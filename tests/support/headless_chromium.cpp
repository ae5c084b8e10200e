#include "headless_chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

const char* const kChromium = "/usr/bin/chromium";

std::string JsonString(const std::string& json, const std::string& key)
{
    const std::string k = "\"" + key + "\":\"";
    const size_t a = json.find(k);
    if (a == std::string::npos) return "";
    size_t b = a + k.size();
    while (b < json.size() && json[b] != '"') b += json[b] == '\\' ? 2 : 1;
    return json.substr(a + k.size(), b - a - k.size());
}

long JsonNumber(const std::string& json, const std::string& key)
{
    const std::string k = "\"" + key + "\":";
    const size_t a = json.find(k);
    if (a == std::string::npos) return -1;
    return std::strtol(json.c_str() + a + k.size(), nullptr, 10);
}

std::string FromBase64(const std::string& text)
{
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (char c : text) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else continue;
        v = v << 6 | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xff);
        }
    }
    return out;
}

std::vector<pid_t> ProcessesNaming(const std::string& text)
{
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (!proc) return pids;
    while (const dirent* e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/cmdline", std::ios::binary);
        std::stringstream cmd;
        cmd << f.rdbuf();
        if (cmd.str().find(text) != std::string::npos) pids.push_back(pid);
    }
    closedir(proc);
    return pids;
}

bool Browser::Start(std::string& why)
{
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        why = "pipe failed";
        return false;
    }
    const std::string profile = "--user-data-dir=" + dir_ + "/profile";
    const std::string log = dir_ + "/chromium.log";
    pid_ = fork();
    if (pid_ < 0) {
        why = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        setpgid(0, 0);
        // The protocol pipes are fds 3 (commands in) and 4 (replies out).
        const int in = dup(toChild[0]), out = dup(fromChild[1]);
        dup2(in, 3);
        dup2(out, 4);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        for (int fd = 5; fd < 1024; ++fd) close(fd);
        execl(kChromium, kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
              "--no-first-run", "--disable-background-networking", "--disable-component-update",
              "--disable-sync", "--disable-extensions", "--disable-crash-reporter", "--disable-breakpad", "--remote-debugging-pipe", profile.c_str(),
              "about:blank", static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid_, pid_);
    close(toChild[0]);
    close(fromChild[1]);
    to_ = toChild[1];
    from_ = fromChild[0];
    signal(SIGPIPE, SIG_IGN);
    return true;
}

std::string Browser::Call(const std::string& method, const std::string& params, const std::string& session)
{
    const int id = ++lastId_;
    std::string msg = "{\"id\":" + std::to_string(id) + ",";
    if (!session.empty()) msg += "\"sessionId\":\"" + session + "\",";
    msg += "\"method\":\"" + method + "\",\"params\":" + params + "}";
    msg += '\0';
    for (size_t done = 0; done < msg.size();) {
        const ssize_t n = write(to_, msg.data() + done, msg.size() - done);
        if (n <= 0) return "";
        done += static_cast<size_t>(n);
    }
    const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
    for (;;) {
        const std::string m = Next();
        if (m.empty()) return "";
        if (m.compare(0, prefix.size(), prefix) == 0) return m;
    }
}

bool Browser::WaitFor(const std::string& method)
{
    for (const std::string& e : events)
        if (JsonString(e, "method") == method) return true;
    for (;;) {
        const std::string m = Next();
        if (m.empty()) return false;
        if (JsonString(m, "method") == method) return true;
    }
}

void Browser::Stop()
{
    if (pid_ <= 0) return;
    if (to_ >= 0) {
        const std::string close = std::string("{\"id\":999999,\"method\":\"Browser.close\"}") + '\0';
        (void)!write(to_, close.data(), close.size());
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
        ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!ended) usleep(100000);
    }
    kill(-pid_, SIGKILL);   // the browser's own group: helpers it left
    if (!ended) waitpid(pid_, &status, 0);
    // Helpers that left the group still carry the profile's path.
    for (int i = 0; i < 50; ++i) {
        const std::vector<pid_t> left = ProcessesNaming(dir_ + "/profile");
        if (left.empty()) break;
        for (pid_t p : left) kill(p, SIGKILL);
        usleep(100000);
    }
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    to_ = from_ = -1;
    pid_ = -1;
}

std::string Browser::Next()
{
    for (;;) {
        const size_t end = buffer_.find('\0');
        if (end != std::string::npos) {
            std::string m = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (m.compare(0, 6, "{\"id\":") != 0) events.push_back(m);
            return m;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return "";
        pollfd p{from_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
        char buf[65536];
        const ssize_t n = read(from_, buf, sizeof buf);
        if (n <= 0) return "";
        buffer_.append(buf, static_cast<size_t>(n));
    }
}

bool OpenPage(Browser& browser, const std::string& url, std::string& session, std::string& why)
{
    if (!browser.Start(why)) return false;
    const std::string target = JsonString(browser.Call("Target.createTarget", "{\"url\":\"about:blank\"}"), "targetId");
    if (target.empty()) {
        why = "no reply from Chromium";
        return false;
    }
    session = JsonString(
        browser.Call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}"), "sessionId");
    if (session.empty()) {
        why = "cannot attach to the page";
        return false;
    }
    for (const char* domain : {"Runtime.enable", "Log.enable", "Page.enable"})
        if (browser.Call(domain, "{}", session).empty()) {
            why = std::string("no reply to ") + domain;
            return false;
        }
    if (browser.Call("Emulation.setDeviceMetricsOverride",
                     "{\"width\":1440,\"height\":900,\"deviceScaleFactor\":1,\"mobile\":false}", session)
            .empty()) {
        why = "cannot set the window size";
        return false;
    }
    browser.events.clear();
    const std::string nav = browser.Call("Page.navigate", "{\"url\":\"" + url + "\"}", session);
    if (nav.empty() || !JsonString(nav, "errorText").empty()) {
        why = "cannot open " + url + ": " + nav;
        return false;
    }
    if (!browser.WaitFor("Page.loadEventFired")) {
        why = "the page did not finish loading";
        return false;
    }
    return true;
}

std::vector<std::string> PageErrors(const Browser& browser)
{
    std::vector<std::string> errors;
    for (const std::string& e : browser.events) {
        const std::string method = JsonString(e, "method");
        if (method == "Runtime.exceptionThrown") errors.push_back(e);
        if (method == "Runtime.consoleAPICalled" && JsonString(e, "type") == "error") errors.push_back(e);
        if (method == "Log.entryAdded" && JsonString(e, "level") == "error") errors.push_back(e);
    }
    return errors;
}
