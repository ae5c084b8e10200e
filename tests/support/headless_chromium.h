#ifndef TESTS_HEADLESS_CHROMIUM_H
#define TESTS_HEADLESS_CHROMIUM_H

// Headless Chromium for the tests of pages: driven through its DevTools
// protocol on a pair of pipes (no network port), in its own process group,
// stopped (the group, by its id) whatever happens to the test.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

extern const char* const kChromium;

// The text of the first `"key":"..."` in a JSON message, escapes kept.
std::string JsonString(const std::string& json, const std::string& key);
// The first whole number after `"key":`; -1 when there is none.
long JsonNumber(const std::string& json, const std::string& key);
std::string FromBase64(const std::string& text);
// Processes whose command line names `text` (the browser's own profile
// directory, which every helper process it starts is given).
std::vector<pid_t> ProcessesNaming(const std::string& text);

class Browser {
public:
    explicit Browser(const std::string& dir) : dir_(dir) {}
    ~Browser() { Stop(); }

    bool Start(std::string& why);
    // Sends a command and returns its reply; events seen meanwhile go to
    // `events`. "" on time-out or a closed pipe.
    std::string Call(const std::string& method, const std::string& params = "{}",
                     const std::string& session = "");
    // Waits for an event of `method`; false on time-out.
    bool WaitFor(const std::string& method);
    void Stop();

    std::vector<std::string> events;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);

private:
    // The next whole message; "" on time-out or end.
    std::string Next();

    std::string dir_;
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1, lastId_ = 0;
    std::string buffer_;
};

// Opens `url` in a fresh page: `session` is the page's session id. The
// console, log and page events are enabled; waits for the load event.
bool OpenPage(Browser& browser, const std::string& url, std::string& session, std::string& why);

// Console errors, uncaught exceptions and failed loads seen so far.
std::vector<std::string> PageErrors(const Browser& browser);

#endif
