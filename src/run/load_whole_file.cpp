#include "load_whole_file.h"

#include <string>

#include "report.h"

bool LoadWholeFile(const char* path, const uint8_t** buffer, uint32_t* size) {
  WholeFile file;
  LoadFailure failure = LoadWhole(path, 0, LoadWay::READ, &file);
  *buffer = file.bytes;
  *size = file.size;
  return ReportLoad(path, failure);
}

std::string LoadLine(const char* path, const LoadFailure& failure) {
  char text[SAYS_TEXT_MAX];
  text[0] = '\0';
  switch (failure.step) {
    case LoadStep::LOADED: break;
    case LoadStep::OPEN_FAILED:
      FormatVorandel(VorandelSays::FILE_NOT_FOUND, {path}, text, sizeof text);
      break;
    case LoadStep::SIZE_FAILED:
      FormatVorandel(VorandelSays::SIZE_FAILED, {{}, {}, failure.error}, text,
                     sizeof text);
      break;
    case LoadStep::TOO_LARGE:
      FormatVorandel(VorandelSays::FILE_TOO_LARGE, {path}, text, sizeof text);
      break;
    case LoadStep::READ_FAILED:
      FormatVorandel(VorandelSays::READ_FAILED, {{}, {}, failure.error}, text,
                     sizeof text);
      break;
  }
  return text;
}

bool ReportLoad(const char* path, const LoadFailure& failure) {
  if (failure.step == LoadStep::LOADED) return true;
  Report(LoadLine(path, failure).c_str());
  return false;
}
