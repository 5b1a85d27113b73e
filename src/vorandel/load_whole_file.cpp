#include "load_whole_file.h"

#include "report.h"
#include "whole_file.h"

bool LoadWholeFile(const char* path, const uint8_t** buffer, uint32_t* size) {
  WholeFile file;
  LoadFailure failure = LoadWhole(path, 0, LoadWay::READ, &file);
  *buffer = file.bytes;
  *size = file.size;
  auto error = static_cast<long>(failure.error);
  switch (failure.step) {
    case LoadStep::LOADED: return true;
    case LoadStep::OPEN_FAILED: Report("File %s not found.\n", path); break;
    case LoadStep::SIZE_FAILED:
      Report("Can't get the size of the file (error %ld).\n", error);
      break;
    case LoadStep::TOO_LARGE: Report("File %s is too large.\n", path); break;
    case LoadStep::READ_FAILED:
      Report("Can't read the data (error %ld).\n", error);
      break;
  }
  return false;
}
