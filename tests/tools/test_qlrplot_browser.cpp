// The quicklook page in a real browser: headless Chromium, driven through
// its DevTools protocol on a pair of pipes (no network port), loads the page
// from the file, reports every image loaded and no console error, and takes
// a full-page screenshot.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "headless_chromium.h"
#include "qlrplot_pairs.h"
#include "run_program.h"

namespace {

TEST(QlrplotBrowser, ReportRendersInChromiumWithEveryImageAndNoConsoleError)
{
    if (access(kChromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed (Debian package chromium; as root: apt-get install -y chromium)";
    const std::string pair = ProductPair("day1");
    const std::string dir = FreshTestDir();
    const ProgramResult r = RunProgram({QLRPLOT_PATH, pair + "/x.eph", pair + "/x.att", "-o", dir + "/out"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string html = ReadFile(dir + "/out/report.html");
    // Readable without a network: nothing is fetched from anywhere.
    EXPECT_EQ(html.find("http:"), std::string::npos);
    EXPECT_EQ(html.find("https:"), std::string::npos);
    size_t figures = 0;
    for (size_t p = html.find("<img "); p != std::string::npos; p = html.find("<img ", p + 1)) ++figures;
    ASSERT_GE(figures, 5u);

    Browser browser(dir);
    std::string why;
    ASSERT_TRUE(browser.Start(why)) << why;
    const std::string target = JsonString(browser.Call("Target.createTarget", "{\"url\":\"about:blank\"}"), "targetId");
    ASSERT_FALSE(target.empty()) << "no reply from Chromium; see " << dir << "/chromium.log";
    const std::string session = JsonString(
        browser.Call("Target.attachToTarget", "{\"targetId\":\"" + target + "\",\"flatten\":true}"), "sessionId");
    ASSERT_FALSE(session.empty());
    for (const char* domain : {"Runtime.enable", "Log.enable", "Page.enable"})
        ASSERT_FALSE(browser.Call(domain, "{}", session).empty()) << domain;
    ASSERT_FALSE(browser.Call("Emulation.setDeviceMetricsOverride",
                              "{\"width\":1440,\"height\":900,\"deviceScaleFactor\":1,\"mobile\":false}", session)
                     .empty());
    browser.events.clear();
    const std::string nav = browser.Call("Page.navigate", "{\"url\":\"file://" + dir + "/out/report.html\"}", session);
    ASSERT_FALSE(nav.empty());
    EXPECT_EQ(JsonString(nav, "errorText"), "");
    ASSERT_TRUE(browser.WaitFor("Page.loadEventFired")) << "the page did not finish loading";

    const std::string loaded = browser.Call(
        "Runtime.evaluate",
        "{\"expression\":\"(() => { const im = Array.from(document.images); return im.filter(i => i.complete && "
        "i.naturalWidth > 0).length + ' of ' + im.length; })()\",\"returnByValue\":true}",
        session);
    EXPECT_EQ(JsonString(loaded, "value"), std::to_string(figures) + " of " + std::to_string(figures));

    const long pageHeight = JsonNumber(browser.Call("Runtime.evaluate",
                                                    "{\"expression\":\"document.documentElement.scrollHeight\","
                                                    "\"returnByValue\":true}",
                                                    session),
                                       "value");
    // Every figure at its natural size, one above the other.
    EXPECT_GT(pageHeight, static_cast<long>(figures) * 500);
    ASSERT_FALSE(browser.Call("Emulation.setDeviceMetricsOverride",
                              "{\"width\":1440,\"height\":" + std::to_string(pageHeight) +
                                  ",\"deviceScaleFactor\":1,\"mobile\":false}",
                              session)
                     .empty());
    const std::string shot = FromBase64(JsonString(browser.Call("Page.captureScreenshot", "{\"format\":\"png\"}", session), "data"));
    ASSERT_GE(shot.size(), 24u);
    ASSERT_EQ(shot.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    auto be = [&](size_t o) {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(shot[o + i]);
        return v;
    };
    EXPECT_EQ(be(16), 1440u);
    EXPECT_EQ(static_cast<long>(be(20)), pageHeight);
    EXPECT_GT(shot.size(), 100000u) << "a screenshot this small is a blank page";
    WriteFile(dir + "/screenshot.png", shot);

    // Console errors, uncaught exceptions and failed loads all arrive as events.
    for (const std::string& e : browser.events) {
        const std::string method = JsonString(e, "method");
        if (method == "Runtime.exceptionThrown") ADD_FAILURE() << e;
        if (method == "Runtime.consoleAPICalled" && JsonString(e, "type") == "error") ADD_FAILURE() << e;
        if (method == "Log.entryAdded" && JsonString(e, "level") == "error") ADD_FAILURE() << e;
    }
    browser.Stop();
    EXPECT_TRUE(ProcessesNaming(dir + "/profile").empty()) << "a browser process outlived the test";
}

} // namespace
