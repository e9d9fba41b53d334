// --init: writes the default configuration into the working directory
// through the atomic write, refusing to touch anything that already has the
// name, whatever its kind.
#include "cli/init.h"

#include "cli/help.h"
#include "fs/file_ops.h"
#include "log/log.h"

namespace zeviziz {

Status run_init() {
  const Path target = "zeviziz.ini";
  if (file_exists(target)) return make_error("zeviziz.ini already exists");
  ZV_TRY_STATUS(write_atomic(target, default_config_text()));
  write_stdout("Created zeviziz.ini.\n");
  return {};
}

}  // namespace zeviziz
