#include "Job.h"

namespace quorvex::station {

bool LoadJob(const std::string& path, Job* job, std::string* error) {
  (void)path;
  (void)job;
  *error = "not yet";
  return false;
}

}  // namespace quorvex::station
