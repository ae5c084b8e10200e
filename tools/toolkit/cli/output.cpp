#include "toolkit/cli/output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/make_dirs.h"
#include "platform/path_trust.h"
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
    auto cannotMake = [&](const std::string& why) { Fail("cannot make the directory \"" + dir + "\": " + why); };
    struct stat st;
    bool made = false;
    if (lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) cannot(std::strerror(errno));
        // Made here, with its missing parents; an existing parent is taken
        // as it is.
        const platform::MadeDirs r = platform::MakeDirs(dir);
        if (!r.ok)
            cannotMake(r.err == ENOTDIR && r.at == dir ? "it exists and is not a directory" : std::strerror(r.err));
        made = r.made;
    }
    int err = 0;
    switch (platform::CheckOwnFolder(dir, made, err)) {
    case platform::FolderTrust::Own: return;
    case platform::FolderTrust::Unreadable: return cannot(std::strerror(err));
    case platform::FolderTrust::OthersLink: return cannot("a link of another user; give a folder of your own");
    case platform::FolderTrust::NotAFolder: return cannotMake("it exists and is not a directory");
    case platform::FolderTrust::OthersFolder: return cannot("a folder of another user; give a folder of your own");
    case platform::FolderTrust::OpenToOthers:
        return cannot("others may write to it without the sticky bit; take their write permission away or give "
               "another folder");
    }
}

} // namespace toolkit
