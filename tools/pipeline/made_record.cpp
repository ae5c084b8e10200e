#include "pipeline/made_record.h"

#include <sys/stat.h>

#include "platform/file_reading.h"
#include "platform/file_signature.h"
#include "toolkit/cli/tab_fields.h"
#include "toolkit/hashing/sha256.h"

namespace pipeline {

MadeFile* MadeRecord::Find(const std::string& role)
{
    for (MadeFile& f : files)
        if (f.role == role) return &f;
    return nullptr;
}

std::string MadeRecordPath(const std::string& outdir, const std::string& name)
{
    return outdir + "/" + name + ".made";
}

std::string MadeRecordText(const MadeRecord& r)
{
    std::string text = "made-by\t" + toolkit::TabField(r.madeBy) + "\nprograms\t" + toolkit::TabField(r.programs) + "\n";
    for (const MadeFile& f : r.files)
        text += toolkit::TabField(f.role) + "\t" + toolkit::TabField(f.path) + "\t" + f.sha256 + "\t" +
                toolkit::TabField(f.signature) + "\n";
    return text;
}

bool ReadMadeRecord(const std::string& path, MadeRecord& r)
{
    r = MadeRecord();
    std::string text, error;
    if (!platform::ReadWholeFile(path, text, error) || text.empty() || text.back() != '\n') return false;
    for (size_t a = 0; a < text.size();) {
        const size_t b = text.find('\n', a);
        const std::vector<std::string> f = toolkit::TabFields(text.substr(a, b - a));
        a = b + 1;
        if (f.size() == 2 && f[0] == "made-by") r.madeBy = f[1];
        else if (f.size() == 2 && f[0] == "programs") r.programs = f[1];
        else if (f.size() == 4) r.files.push_back({f[0], f[1], f[2], f[3]});
        else return false;
    }
    return !r.madeBy.empty();
}

bool Identify(const std::string& role, const std::string& path, MadeFile& file)
{
    file = MadeFile{role, path, "", ""};
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && path == "/dev/null") {
        file.sha256 = toolkit::Sha256Hex("");   // the built-in configuration: no text
        return true;
    }
    // A regular file only, opened without blocking: a FIFO put under an
    // input's name cannot hold the job.
    toolkit::Sha256 hash;
    std::string error;
    if (!platform::ReadInSteps(path, 1 << 20, true, [&](const char* data, size_t n) { hash.Update(data, n); }, error))
        return false;
    platform::FileSignature(path, file.signature);
    file.sha256 = hash.HexDigest();
    return true;
}

bool SameFiles(MadeRecord& record, const std::vector<std::pair<std::string, std::string>>& files, bool& changed)
{
    changed = false;
    for (const auto& want : files) {
        MadeFile* made = record.Find(want.first);
        if (!made) return false;
        std::string now;
        if (want.second == made->path && !made->signature.empty() && platform::FileSignature(want.second, now) &&
            now == made->signature)
            continue;
        MadeFile fresh;
        if (!Identify(want.first, want.second, fresh) || fresh.sha256 != made->sha256) return false;
        changed = changed || fresh.signature != made->signature || fresh.path != made->path;
        *made = fresh;
    }
    return true;
}

} // namespace pipeline
