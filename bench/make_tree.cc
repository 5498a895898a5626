// Writes the benchmark's generated file trees, the same bytes on every
// machine for the same arguments:
//
//   make_tree DIR BYTES FILES [tiny]
//
// Without "tiny": FILES files of together BYTES bytes, sizes spread
// log-uniformly over three orders of magnitude, each third of the files of
// one kind: text-like (words and lines, deflates to about a third),
// binary-like (fixed-width records of small numbers, about a half) and
// incompressible (pseudo-random bytes). With "tiny": FILES text-like files
// of 16 to 512 bytes (BYTES is ignored). Files are spread over 10
// directories of 10 subdirectories each. DIR must not exist yet.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

// A vocabulary of made-up words; lower indices are drawn more often.
std::vector<std::string> makeWords(Random& random) {
  static const char* const syllables[] = {"ka", "to", "ri", "sen", "ve", "lo", "mar", "in",
                                          "du", "pe", "zi", "on", "gra", "fu", "el", "nos"};
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string word;
    int count = 1 + static_cast<int>(random.below(4));
    for (int s = 0; s < count; ++s) word += syllables[random.below(16)];
    words.push_back(word);
  }
  return words;
}

void textBytes(Random& random, const std::vector<std::string>& words, size_t size,
               std::string* out) {
  size_t column = 0;
  while (out->size() < size) {
    double u = random.unit();
    const std::string& word = words[static_cast<size_t>(u * u * u * static_cast<double>(words.size()))];
    *out += word;
    column += word.size() + 1;
    if (column > 64) {
      *out += '\n';
      column = 0;
    } else {
      *out += random.below(12) == 0 ? ", " : " ";
    }
  }
  out->resize(size);
}

// Records like a symbol table or machine code: an opcode from a small set,
// a small operand and an address near a slowly moving base.
void binaryBytes(Random& random, size_t size, std::string* out) {
  uint32_t base = 0x08048000u;
  while (out->size() < size) {
    char record[12];
    uint32_t address = base + random.below(4096);
    uint32_t operand = random.below(64);
    record[0] = static_cast<char>(0x40 + random.below(8) * 4);
    record[1] = static_cast<char>(operand);
    record[2] = 0;
    record[3] = static_cast<char>(random.below(4));
    for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<char>(address >> (8 * i));
    for (int i = 0; i < 4; ++i) record[8 + i] = static_cast<char>(random.below(3) == 0 ? random.next() : 0);
    out->append(record, sizeof record);
    if (random.below(256) == 0) base += 4096;
  }
  out->resize(size);
}

void randomBytes(Random& random, size_t size, std::string* out) {
  while (out->size() < size) {
    uint64_t word = random.next();
    out->append(reinterpret_cast<const char*>(&word), sizeof word);
  }
  out->resize(size);
}

bool writeFile(const std::string& path, const std::string& content) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
  return fclose(file) == 0 && ok;
}

bool makeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

std::vector<size_t> fileSizes(Random& random, uint64_t total, size_t files) {
  std::vector<double> weights;
  double sum = 0;
  for (size_t i = 0; i < files; ++i) {
    weights.push_back(std::exp(random.unit() * std::log(1000.0)));
    sum += weights.back();
  }
  std::vector<size_t> sizes;
  uint64_t given = 0;
  for (size_t i = 0; i < files; ++i) {
    sizes.push_back(static_cast<size_t>(static_cast<double>(total) * weights[i] / sum));
    given += sizes.back();
  }
  sizes[0] += static_cast<size_t>(total - given);
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  bool tiny = argc == 5 && strcmp(argv[4], "tiny") == 0;
  if (argc != 4 && !tiny) {
    fprintf(stderr, "usage: make_tree DIR BYTES FILES [tiny]\n");
    return 2;
  }
  std::string root = argv[1];
  uint64_t total = strtoull(argv[2], nullptr, 10);
  size_t files = strtoul(argv[3], nullptr, 10);
  if (files == 0 || mkdir(root.c_str(), 0755) != 0) {
    fprintf(stderr, "make_tree: cannot create %s: %s\n", root.c_str(), strerror(errno));
    return 1;
  }
  Random random(total ^ (files << 40));
  std::vector<std::string> words = makeWords(random);
  std::vector<size_t> sizes = tiny ? std::vector<size_t>() : fileSizes(random, total, files);
  static const char* const suffixes[] = {".txt", ".bin", ".dat"};
  for (size_t i = 0; i < files; ++i) {
    std::string dir = root + "/d" + std::to_string(i % 10);
    std::string sub = dir + "/s" + std::to_string(i / 10 % 10);
    if (!makeDirectory(dir) || !makeDirectory(sub)) return 1;
    int kind = tiny ? 0 : static_cast<int>(i % 3);
    size_t size = tiny ? 16 + random.below(497) : sizes[i];
    std::string content;
    content.reserve(size + 128);
    if (kind == 0) textBytes(random, words, size, &content);
    if (kind == 1) binaryBytes(random, size, &content);
    if (kind == 2) randomBytes(random, size, &content);
    std::string path = sub + "/f" + std::to_string(i) + suffixes[kind];
    if (!writeFile(path, content)) {
      fprintf(stderr, "make_tree: cannot write %s: %s\n", path.c_str(), strerror(errno));
      return 1;
    }
  }
  return 0;
}
