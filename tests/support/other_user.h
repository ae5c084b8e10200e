#ifndef TESTS_OTHER_USER_H
#define TESTS_OTHER_USER_H

// Another user for the tests of the shared-machine rules: root plays the
// user nobody in a child process.

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

struct OtherUser {
    uid_t uid = 0;
    gid_t gid = 0;

    // False (skip the test) when not root or nobody and nogroup are missing.
    bool Available()
    {
        const passwd* pw = getpwnam("nobody");
        const group* gr = getgrnam("nogroup");
        if (geteuid() != 0 || pw == nullptr || gr == nullptr) return false;
        uid = pw->pw_uid;
        gid = gr->gr_gid;
        return true;
    }

    // Runs `act` as nobody (no other groups); true when it could and `act`
    // said true.
    bool Does(const std::function<bool()>& act) const
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(2);
            _exit(act() ? 0 : 1);
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

#endif
