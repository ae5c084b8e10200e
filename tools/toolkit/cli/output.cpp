#include "toolkit/cli/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolkit/cli/cli.h"

namespace toolkit {

void RefuseClashes(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs)
{
    for (const std::vector<NamedFile>* list : {&inputs, &outputs})
        for (const NamedFile& f : *list)
            if (BlankName(f.name))
                Fail("the " + f.what + " has no name (\"" + f.name + "\" is blank or empty)");
    for (size_t i = 0; i < outputs.size(); ++i) {
        const NamedFile& out = outputs[i];
        auto clash = [&](const NamedFile& other) {
            if (SameFile(out.name, other.name))
                Fail(out.what + " \"" + out.name + "\" and " + other.what + " \"" + other.name +
                     "\" are the same file");
        };
        for (const NamedFile& in : inputs) clash(in);
        for (size_t j = 0; j < i; ++j) clash(outputs[j]);
    }
}

void OpenOutput(outputstream& out, const NamedFile& file)
{
    if (!out.Open(file.name))
        Fail("cannot open the " + file.what + " \"" + file.name + "\": " + out.Error());
}

void CommitOutputs(const std::vector<outputstream*>& outs)
{
    size_t failed = 0;
    if (CommitTogether(outs, failed)) return;
    const std::string name = outs[failed]->Name(), why = outs[failed]->Error();
    // The files not yet renamed are dropped.
    for (outputstream* out : outs) out->Discard();
    Fail("cannot write \"" + name + "\": " + why);
}

void OwnFolder(const std::string& dir)
{
    if (BlankName(dir)) Fail("the output folder has no name (\"" + dir + "\" is blank or empty)");
    auto cannot = [&](const std::string& why) { Fail("cannot use the folder \"" + dir + "\": " + why); };
    struct stat st;
    bool made = false;
    if (lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) cannot(std::strerror(errno));
        // Made here, with its missing parents; an existing parent is taken
        // as it is.
        for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
            if (mkdir(dir.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST)
                Fail("cannot make the directory \"" + dir + "\": " + std::strerror(errno));
        made = mkdir(dir.c_str(), 0777) == 0;
        if (!made && errno != EEXIST) Fail("cannot make the directory \"" + dir + "\": " + std::strerror(errno));
        if (lstat(dir.c_str(), &st) != 0) cannot(std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
        if (st.st_uid != geteuid() && st.st_uid != 0)
            cannot("a link of another user; give a folder of your own");
        if (stat(dir.c_str(), &st) != 0) cannot(std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode))
        Fail("cannot make the directory \"" + dir + "\": it exists and is not a directory");
    if (st.st_uid != geteuid()) cannot("a folder of another user; give a folder of your own");
    // A folder made just now has the mode the umask gives.
    if (!made && (st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        cannot("others may write to it without the sticky bit; take their write permission away or give "
               "another folder");
}

} // namespace toolkit
