#include "host/common/version.h"

#include "zamkt_build_info.h"

namespace n2host {

const char *ProjectVersion() { return ZAMKT_PROJECT_VERSION; }

const char *BuildCommit() { return ZAMKT_BUILD_COMMIT; }

const char *VersionText() { return ZAMKT_PROJECT_VERSION " (commit " ZAMKT_BUILD_COMMIT ")"; }

}  // namespace n2host
