#include "options.h"

#include <algorithm>
#include <initializer_list>

#include "description.h"

namespace {

bool takesDescription(CommandKind kind) {
  return kind == CommandKind::kBuild || kind == CommandKind::kBundle;
}

bool isDescriptionKey(const std::string& key) {
  const std::vector<std::string>& keys = descriptionKeys();
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

class OptionReader {
 public:
  OptionReader(CommandKind kind, const std::vector<std::string>& arguments,
               CommandOptions* options)
      : kind_(kind), arguments_(arguments), options_(options) {}

  bool run(std::string* error) {
    bool optionsEnded = false;
    for (next_ = 0; next_ < arguments_.size();) {
      const std::string& argument = arguments_[next_++];
      if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
        options_->operands.push_back(argument);
      } else if (argument == "--") {
        optionsEnded = true;
      } else if (!option(argument, error)) {
        return false;
      }
    }
    return true;
  }

 private:
  // The option's value: after "=", or the next argument.
  bool value(std::string* text, std::string* error) {
    if (hasInline_) {
      *text = inline_;
      return true;
    }
    if (next_ >= arguments_.size()) {
      *error = "option '" + name_ + "' needs a value";
      return false;
    }
    *text = arguments_[next_++];
    return true;
  }

  bool option(const std::string& argument, std::string* error) {
    size_t equals = argument.find('=');
    hasInline_ = argument.compare(0, 2, "--") == 0 && equals != std::string::npos;
    name_ = hasInline_ ? argument.substr(0, equals) : argument;
    inline_ = hasInline_ ? argument.substr(equals + 1) : std::string();
    if (name_ == "--help" || name_ == "-h") return options_->help = true;
    if (kind_ == CommandKind::kBuild && name_ == "--skip-special") {
      return flag(&options_->skipSpecial, error);
    }
    if (takesDescription(kind_)) return descriptionOption(error);
    return commandOption(error);
  }

  bool commandOption(std::string* error) {
    using K = CommandKind;
    if (name_ == "--secure" && takes({K::kInfo, K::kVerify, K::kExtract})) {
      return flag(&options_->assumeSecure, error);
    }
    if (name_ == "--json" && takes({K::kInfo, K::kList, K::kVerify, K::kDiff, K::kPubkey,
                                    K::kTrusted, K::kSimulate})) {
      return flag(&options_->json, error);
    }
    if (name_ == "--digest" && takes({K::kList})) return flag(&options_->digests, error);
    if (name_ == "--no-verify" && takes({K::kExtract})) return flag(&options_->noVerify, error);
    if (name_ == "--trust" && takes({K::kInfo, K::kVerify, K::kExtract})) {
      options_->trustFiles.emplace_back();
      return value(&options_->trustFiles.back(), error);
    }
    if ((name_ == "-o" || name_ == "--output") && takes({K::kKeygen, K::kResign})) {
      return value(&options_->output, error);
    }
    if (name_ == "--scheme" && takes({K::kKeygen})) return value(&options_->scheme, error);
    if (name_ == "--stream" && takes({K::kSimulate})) return value(&options_->streamFile, error);
    if (name_ == "--installer" && takes({K::kSimulate})) return value(&options_->installer, error);
    if (name_ == "--arch" && takes({K::kRoot})) return value(&options_->architecture, error);
    if (name_ == "--board" && takes({K::kRoot})) return value(&options_->board, error);
    if (kind_ == K::kResign && signingOption(error)) return true;
    if (!error->empty()) return false;
    return unknown(error);
  }

  bool takes(std::initializer_list<CommandKind> kinds) const {
    return std::find(kinds.begin(), kinds.end(), kind_) != kinds.end();
  }

  // A bare option that takes no value.
  bool flag(bool* target, std::string* error) {
    if (hasInline_) {
      *error = "option '" + name_ + "' takes no value";
      return false;
    }
    return *target = true;
  }

  bool descriptionOption(std::string* error) {
    if (name_ == "-o" || name_ == "--output") return value(&options_->output, error);
    if (name_ == "-d" || name_ == "--description") return value(&options_->descriptionFile, error);
    if ((kind_ == CommandKind::kBuild || kind_ == CommandKind::kBundle) && signingOption(error)) {
      return true;
    }
    if (!error->empty()) return false;
    std::string key = name_.compare(0, 2, "--") == 0 ? name_.substr(2) : std::string();
    if (!isDescriptionKey(key)) return unknown(error);
    DescriptionKind kind =
        kind_ == CommandKind::kBundle ? DescriptionKind::kBundle : DescriptionKind::kPackage;
    if (!keyBelongsIn(kind, key)) {
      *error = "'" + name_ + "' does not belong in " +
               (kind == DescriptionKind::kBundle ? "a bundle" : "a package");
      return false;
    }
    std::string text = "yes";
    if ((!isFlagField(key) || hasInline_) && !value(&text, error)) return false;
    options_->fields.emplace_back(key, text);
    return true;
  }

  // True when the option is a signing option and was taken; false with
  // *error set when it was one and is wrong, false otherwise.
  bool signingOption(std::string* error) {
    SigningOptions& signing = options_->signing;
    std::string text;
    if (name_ == "--sign") {
      unsigned schemes;
      if (!value(&text, error)) return false;
      if (!parseSigningSchemes(text, &schemes, error)) {
        *error = "--sign: " + *error;
        return false;
      }
      signing.schemes = schemes;
      return true;
    }
    if (name_ == "--key") return value(&signing.ed25519KeyFile, error);
    if (name_ == "--legacy-key") return value(&signing.legacyKeyFile, error);
    return false;
  }

  bool unknown(std::string* error) {
    *error = "unknown option '" + name_ + "'";
    return false;
  }

  CommandKind kind_;
  const std::vector<std::string>& arguments_;
  CommandOptions* options_;
  size_t next_ = 0;
  std::string name_;
  bool hasInline_ = false;
  std::string inline_;
};

}  // namespace

bool parseCommandOptions(CommandKind kind, const std::vector<std::string>& arguments,
                         CommandOptions* options, std::string* error) {
  error->clear();
  return OptionReader(kind, arguments, options).run(error);
}
