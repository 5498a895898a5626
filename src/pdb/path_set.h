// A set of paths held in one arena (commit/path_arena.h): the paths' bytes
// and 5 more per path, where a std::set of strings costs about 100 more. Paths are
// added in any order; iteration gives each once, ascending byte-wise, as
// a std::set<std::string> would. The order is put right lazily, on the
// first look after an insert, so a look through a const set may still
// sort it (the installer runs one thread).
//
// The arena counts in 32 bits: a set takes at most 4 GiB of paths, far
// above the bounds of a files file and of a package's tree; a path beyond
// that is left out.
#ifndef PDB_PATH_SET_H_
#define PDB_PATH_SET_H_

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "commit/path_arena.h"

class PathSet {
 public:
  // Gives each path as a fresh string.
  class const_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef std::string value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const std::string* pointer;
    typedef std::string reference;

    const_iterator(const PathSet* set, size_t index) : set_(set), index_(index) {}
    std::string operator*() const { return set_->at(index_); }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }
    bool operator!=(const const_iterator& other) const { return index_ != other.index_; }

   private:
    const PathSet* set_;
    size_t index_;
  };

  PathSet() = default;
  PathSet(const PathSet& other);
  PathSet& operator=(const PathSet& other);
  PathSet(PathSet&&) = default;
  PathSet& operator=(PathSet&&) = default;
  PathSet(std::initializer_list<std::string> paths);
  PathSet& operator=(std::initializer_list<std::string> paths);

  void insert(const std::string& path);
  void clear();
  bool empty() const { return refs_.empty(); }
  // The number of distinct paths.
  size_t size() const;

  const_iterator begin() const;
  const_iterator end() const;

 private:
  // Sorts the paths and drops repeated ones.
  void normalize() const;
  std::string at(size_t index) const;

  PathArena bytes_;
  mutable std::vector<PathArena::Ref> refs_;
  mutable bool ordered_ = true;
};

#endif  // PDB_PATH_SET_H_
