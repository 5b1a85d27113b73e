#include "journal/pack_journal.h"

#include <cstdio>
#include <cstring>

#include "format/merge_checks.h"
#include "identity/fingerprint.h"

namespace {

constexpr char JOURNAL_HEAD[] =
    "Vorandel is putting the pack %s into these levels at once. If this file is still "
    "here once no run is going on, the pack was stopped before it was in: the next run "
    "on any of its levels takes it out of every one. Leave this file where it is.\n";
constexpr char LEVEL_LABEL[] = "level: ";
constexpr char CHECK_LABEL[] = "check: ";
constexpr size_t CHECK_DIGITS = 8;

std::string CheckLine(const std::string& text) {
  char line[32];
  snprintf(line, sizeof line, "%s%08x\n", CHECK_LABEL,
           static_cast<unsigned>(
               ShortCheck(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
  return line;
}

// A path's parts, without "." parts or empty ones.
std::vector<std::string> PartsOf(const std::string& path, bool windowsPaths) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path + "/") {
    if (!IsSeparator(c, windowsPaths) && c != '/') {
      part += c;
      continue;
    }
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  }
  return parts;
}

bool SamePart(const std::string& a, const std::string& b, bool windowsPaths) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (windowsPaths) {
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    }
    if (x != y) return false;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "/") + part;
  return joined;
}

}  // namespace

std::string FormatPackJournal(const PackJournal& journal) {
  std::vector<char> head(sizeof JOURNAL_HEAD + journal.name.size());
  snprintf(head.data(), head.size(), JOURNAL_HEAD, journal.name.c_str());
  std::string text = head.data();
  for (const std::string& level : journal.levels) text += LEVEL_LABEL + level + "\n";
  return text + CheckLine(text);
}

bool ReadPackJournal(const uint8_t* bytes, size_t size, PackJournal* journal) {
  std::string text(reinterpret_cast<const char*>(bytes), size);
  const size_t checkLine = sizeof CHECK_LABEL - 1 + CHECK_DIGITS + 1;
  if (size < checkLine || text.back() != '\n') return false;
  std::string body = text.substr(0, size - checkLine);
  if (text.compare(body.size(), std::string::npos, CheckLine(body)) != 0) return false;
  // The head names the pack; the level lines follow it.
  const std::string head = JOURNAL_HEAD;
  const std::string start = head.substr(0, head.find("%s"));
  const std::string rest = head.substr(head.find("%s") + 2);
  size_t restAt = body.find(rest);
  if (body.compare(0, start.size(), start) != 0 || restAt == std::string::npos ||
      restAt < start.size())
    return false;
  journal->name = body.substr(start.size(), restAt - start.size());
  journal->levels.clear();
  for (size_t at = restAt + rest.size(); at < body.size();) {
    size_t end = body.find('\n', at);
    if (end == std::string::npos ||
        body.compare(at, sizeof LEVEL_LABEL - 1, LEVEL_LABEL) != 0 ||
        end == at + sizeof LEVEL_LABEL - 1)
      return false;
    journal->levels.push_back(
        body.substr(at + sizeof LEVEL_LABEL - 1, end - at - (sizeof LEVEL_LABEL - 1)));
    at = end + 1;
  }
  return !journal->levels.empty() && FormatPackJournal(*journal) == text;
}

std::string NameFromLevel(const char* from, const char* to, bool windowsPaths) {
  std::vector<std::string> folder = PartsOf(from, windowsPaths);
  std::vector<std::string> target = PartsOf(to, windowsPaths);
  if (!folder.empty()) folder.pop_back();
  size_t common = 0;
  while (common < folder.size() && common + 1 < target.size() &&
         SamePart(folder[common], target[common], windowsPaths))
    ++common;
  std::vector<std::string> parts(folder.size() - common, "..");
  parts.insert(parts.end(), target.begin() + static_cast<std::ptrdiff_t>(common),
               target.end());
  return Joined(parts);
}

std::string NameBesideLevel(const char* level, const std::string& relative,
                            bool windowsPaths) {
  std::vector<std::string> parts = PartsOf(level, windowsPaths);
  if (!parts.empty()) parts.pop_back();
  for (const std::string& part : PartsOf(relative, windowsPaths)) {
    if (part == ".." && !parts.empty() && parts.back() != "..")
      parts.pop_back();
    else
      parts.push_back(part);
  }
  return Joined(parts);
}

std::string LockOrderKey(const char* level, bool windowsPaths) {
  std::string key = Joined(PartsOf(level, windowsPaths));
  if (windowsPaths)
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}
