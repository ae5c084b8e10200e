#ifndef CAMPAIGN_DUMPS_H
#define CAMPAIGN_DUMPS_H

#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"
#include "platform/folder.h"

// Recorder dumps as a campaign takes them from its inbox (campaign_ingest.h).
//
// The inbox is another user's place (a ground station's account fills it):
// nothing there decides what runs. Only regular files of the inbox's own
// user are read, opened without blocking and through no link; a name that
// begins with a dot or ends in ".part" is a file still being written and is
// left alone. A file is known by its name and signature once looked at, and
// a dump by the SHA-256 of its content: the campaign keeps its own copy,
// CAMPAIGN/dumps/SHA256.pkt, and the inbox is never written.
namespace campaign {

// A file of the inbox this pass looked at for the first time.
struct Arrival {
    std::string name;          // in the inbox
    std::string signature;     // device, inode, size, times
    std::string sha256;        // "" for a file refused unread
    std::string refused;       // why it was not read
    double arrived = 0;        // when this pass first saw it (Unix seconds)
};

// The files of `inbox` not looked at before (as `seen` has them), each
// read and, when its content is new to `dumps` (the campaign's copies),
// kept there through the safe-create path. False with a reason when the
// inbox cannot be listed or a copy cannot be written.
bool TakeArrivals(const platform::Folder& inbox, const std::map<std::string, InboxRow>& seen,
                  const platform::Folder& dumps, std::vector<Arrival>& arrivals, std::string& error);

// Removes the arrival from the inbox (--move) while it is still the file
// that was read (its signature); false with a reason.
bool RemoveIfUnchanged(const platform::Folder& inbox, const Arrival& arrival, std::string& error);

// What a kept dump holds, for its row in `dumps`: the UTC days its
// telemetry packets touch (by their time tags), its first and last packet,
// and its outcome: "taken", "foreign" (packets of other APIDs only, or
// the other packet layout's telemetry: left for another satellite's
// campaign) or "refused" with the reason, by the packet layout in use.
DumpRow SurveyDump(const std::string& path, const Arrival& arrival);

// The days of a dump's row, and the name of its kept copy.
std::vector<std::string> DumpDays(const DumpRow& row);
std::string DumpFileName(const std::string& sha256);

// Removes the temporaries that a command killed while it wrote into `dir`
// (dumps/, a month of level0/) left there.
void RemoveStaleCopies(const platform::Folder& dir);

} // namespace campaign

#endif
