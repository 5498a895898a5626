#include "reference_text.h"

#include <stdint.h>

#include <vector>

#include "description.h"
#include "version_text.h"

namespace {

bool isOperatorChar(char c) { return c == '<' || c == '>' || c == '=' || c == '!'; }

// Words and operators ("routing>=7.1" gives "routing", ">=", "7.1").
std::vector<std::string> referenceTokens(const std::string& text) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < text.size()) {
    char c = text[at];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++at;
      continue;
    }
    size_t end = at;
    bool op = isOperatorChar(c);
    while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r' &&
           isOperatorChar(text[end]) == op) {
      ++end;
    }
    tokens.push_back(text.substr(at, end - at));
    at = end;
  }
  return tokens;
}

bool parsePriority(const std::string& text, int32_t* priority) {
  size_t digits = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (text.size() <= digits || text.size() - digits > 10) return false;
  long long value = 0;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *priority = int32_t(value);
  return true;
}

// Applies one bound ("=", ">=" or "<=") to `ref`.
bool applyBound(const std::string& op, PackageVersion version, bool* minSet, bool* maxSet,
                PackageRef* ref, std::string* error) {
  bool setsMin = op == ">=" || op == "=";
  bool setsMax = op == "<=" || op == "=";
  if (!setsMin && !setsMax) {
    *error = "unknown operator '" + op + "' (bounds are inclusive: use >=, <= or =)";
    return false;
  }
  if ((setsMin && *minSet) || (setsMax && *maxSet)) {
    *error = "a bound is given twice";
    return false;
  }
  if (setsMin) ref->minVersion = version, *minSet = true;
  if (setsMax) ref->maxVersion = version, *maxSet = true;
  return true;
}

// Reads the bounds and priority that follow the name, in pairs: an
// operator or "priority", then its value.
class ReferenceReader {
 public:
  ReferenceReader(bool withPriority, PackageRef* ref) : withPriority_(withPriority), ref_(ref) {}

  bool pair(const std::string& word, const std::string& value, std::string* error) {
    if (word == "priority") return priority(value, error);
    if (!isOperatorChar(word[0])) {
      *error = "expected >=, <=, = or priority, found '" + word + "'";
      return false;
    }
    PackageVersion version;
    return parseVersionText(value, &version, error) &&
           applyBound(word, version, &minSet_, &maxSet_, ref_, error);
  }

 private:
  bool priority(const std::string& value, std::string* error) {
    if (!withPriority_) {
      *error = "only provides entries carry a priority";
    } else if (prioritySet_) {
      *error = "priority given twice";
    } else if (!parsePriority(value, &ref_->priority)) {
      *error = "'" + value + "' is not a priority";
    } else {
      return prioritySet_ = true;
    }
    return false;
  }

  bool withPriority_;
  PackageRef* ref_;
  bool minSet_ = false;
  bool maxSet_ = false;
  bool prioritySet_ = false;
};

bool parseReferenceTokens(const std::vector<std::string>& tokens, bool withPriority,
                          PackageRef* ref, std::string* error) {
  if (tokens.empty() || !validPackageName(tokens[0])) {
    *error = "'" + (tokens.empty() ? std::string() : tokens[0]) + "' is not a package name";
    return false;
  }
  ref->name = tokens[0];
  ReferenceReader reader(withPriority, ref);
  for (size_t i = 1; i < tokens.size(); i += 2) {
    if (i + 1 >= tokens.size()) {
      *error = "'" + tokens[i] + "' needs a value after it";
      return false;
    }
    if (!reader.pair(tokens[i], tokens[i + 1], error)) return false;
  }
  if (ref->minVersion != 0 && ref->maxVersion != 0 && ref->minVersion > ref->maxVersion) {
    *error = "the lower bound lies above the upper bound";
    return false;
  }
  return true;
}

}  // namespace

bool parseReference(const std::string& text, bool withPriority, PackageRef* ref,
                    std::string* error) {
  PackageRef parsed;
  std::string fault;
  if (!parseReferenceTokens(referenceTokens(text), withPriority, &parsed, &fault)) {
    *error = "'" + text + "': " + fault;
    return false;
  }
  *ref = parsed;
  return true;
}

std::string referenceText(const PackageRef& ref, bool withPriority) {
  std::string text = ref.name;
  if (ref.minVersion != 0 && ref.minVersion == ref.maxVersion) {
    text += " = " + versionSpelling(ref.minVersion);
  } else {
    if (ref.minVersion != 0) text += " >= " + versionSpelling(ref.minVersion);
    if (ref.maxVersion != 0) text += " <= " + versionSpelling(ref.maxVersion);
  }
  if (withPriority && ref.priority != 0) text += " priority " + std::to_string(ref.priority);
  return text;
}
