// Folder numbers of kvo library members (CentralHeader::folder) and the
// "folderindex.txt" member that records them.
//
// "folderindex.txt" holds one line per member, "FolderID:%d|File:%s|" and a
// line feed, in central-directory order. Without it the numbers are worked
// out from the folder pages each time the library is opened: a page
// h0042_17.html is folder 17, and each document it names in a
// "TD valign=top nowrap" line with "?FN=<name>\"" joins that folder. In the
// index-builder run (library flag kZipIndexBuilder) the worked-out numbers
// are written to "folderindex.txt" and added to the archive.
//
// Members are read whole into memory, whatever their size. Text is looked at
// line by line; a line ends at a line feed or after 1024 characters.
//
// Messages go through Unzip's log sink (setUnzipLogSink).
#pragma once

#include <sys/types.h>

namespace ruva {

// Registers the operations below as ZipStructure's createIndexfile,
// addIndexfile and parseIndexfile (the reader cannot link them itself).
// Kvo libraries opened before the call get no folder numbers. Called once
// by the daemon at start-up, and by tests; calling it again does no harm.
void installFolderIndex();

// The ZIP update mutex that addIndexfile holds while it rewrites an archive:
// the key UPDFILE and RMFILE lock too, kZipUpdateMutexKeyBase plus the
// configured WellKnownPort. Start-up sets it once the configuration is read;
// until then it is the default port's.
constexpr key_t kZipUpdateMutexKeyBase = 9350000;
constexpr key_t kDefaultZipUpdateMutexKey = kZipUpdateMutexKeyBase + 9229;
void setZipUpdateMutexKey(key_t key);
key_t zipUpdateMutexKey();

}  // namespace ruva
