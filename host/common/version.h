// The project's version and the commit the programs were built from, for
// --version, the status page and the logs.
#ifndef ZAMKT_HOST_COMMON_VERSION_H
#define ZAMKT_HOST_COMMON_VERSION_H

namespace n2host {

// The project version, e.g. "1.4.0".
const char *ProjectVersion();
// The commit the build came from (abbreviated hash, "-dirty" when the tree had
// changes), or "unknown" when built outside a git checkout.
const char *BuildCommit();
// "1.4.0 (commit 8ae3a39)": what --version prints after the program's name.
const char *VersionText();

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_VERSION_H
