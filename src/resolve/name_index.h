// The records of the database by every name they bear, provide or forbid,
// with their database positions, so that the schedule's steps which look a
// bundle, a provider or a conflicting record up by name cost a lookup
// instead of a walk of the whole database (a bundle may bring 10,000
// members, and each dependency of each package is looked up). A snapshot:
// valid while the vector it was made from holds the same records in the
// same order with the same names, provides and conflicts; it holds no
// record and owns none.
#ifndef RESOLVE_NAME_INDEX_H_
#define RESOLVE_NAME_INDEX_H_

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "pdb/package.h"

class NameIndex {
 public:
  // `packages` must outlive the index.
  explicit NameIndex(const std::vector<Package*>& packages);

  // What PackageDb::find answers.
  Package* first(const std::string& name) const;
  // What PackageDb::providersOf answers: in database order, the records
  // other than all-ones ones that satisfy `ref` or provide for it.
  std::vector<Package*> providersOf(const PackageRef& ref) const;
  // In database order, every record that shares a name with `q` (its own,
  // a provided or a forbidden one): the only records that can conflict
  // with `q` or that `q` can conflict with.
  std::vector<Package*> related(const Package& q) const;

 private:
  void add(const std::string& name, size_t position);
  void gather(const std::string& name, std::vector<size_t>* positions) const;

  const std::vector<Package*>& packages_;
  std::map<std::string, Package*> firstByName_;
  // Ascending positions, each once per name.
  std::map<std::string, std::vector<size_t>> byName_;
};

#endif  // RESOLVE_NAME_INDEX_H_
