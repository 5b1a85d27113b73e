#include "load_whole_file.h"

#include "report.h"

bool LoadWholeFile(const char* path, const uint8_t** buffer, uint32_t* size) {
  WholeFile file;
  LoadFailure failure = LoadWhole(path, 0, LoadWay::READ, &file);
  *buffer = file.bytes;
  *size = file.size;
  return ReportLoad(path, failure);
}

bool ReportLoad(const char* path, const LoadFailure& failure) {
  switch (failure.step) {
    case LoadStep::LOADED: return true;
    case LoadStep::OPEN_FAILED: Say(VorandelSays::FILE_NOT_FOUND, {path}); break;
    case LoadStep::SIZE_FAILED:
      Say(VorandelSays::SIZE_FAILED, {{}, {}, failure.error});
      break;
    case LoadStep::TOO_LARGE: Say(VorandelSays::FILE_TOO_LARGE, {path}); break;
    case LoadStep::READ_FAILED:
      Say(VorandelSays::READ_FAILED, {{}, {}, failure.error});
      break;
  }
  return false;
}
