// `npk simulate`.
#include "command_context.h"
#include "commands.h"
#include "json_writer.h"
#include "simulation.h"

namespace {

std::string sizeText(const FileChange& file) {
  if (file.change == "added") return std::to_string(file.sizeAfter) + " bytes";
  if (file.change == "removed") return std::to_string(file.sizeBefore) + " bytes";
  return std::to_string(file.sizeBefore) + " -> " + std::to_string(file.sizeAfter) + " bytes";
}

std::string versionsText(const PackageChange& change) {
  if (change.from.empty()) return change.to;
  if (change.to.empty() || change.from == change.to) return change.from;
  return change.from + " -> " + change.to;
}

void printResult(const SimulationResult& result, std::ostream& out) {
  out << "installer output:\n" << result.output;
  if (!result.output.empty() && result.output.back() != '\n') out << "\n";
  out << "installer exit status: " << result.status << "\n";
  out << "packages:" << (result.packages.empty() ? " no change" : "") << "\n";
  for (const PackageChange& change : result.packages) {
    out << "  " << change.change << " " << change.name << " " << versionsText(change) << "\n";
  }
  out << "files:" << (result.files.empty() ? " no change" : "") << "\n";
  for (const FileChange& file : result.files) {
    out << "  " << file.change << " " << file.path << " (" << sizeText(file) << ")\n";
  }
}

void printJson(const std::string& root, const SimulationResult& result, std::ostream& out) {
  JsonWriter json;
  json.beginObject();
  json.key("root").value(root);
  json.key("installer").beginObject();
  json.key("output").value(result.output);
  json.key("status").value(result.status);
  json.endObject();
  json.key("packages").beginArray();
  for (const PackageChange& change : result.packages) {
    json.beginObject().key("name").value(change.name).key("change").value(change.change);
    json.key("from");
    if (change.from.empty()) json.null(); else json.value(change.from);
    json.key("to");
    if (change.to.empty()) json.null(); else json.value(change.to);
    json.endObject();
  }
  json.endArray().key("files").beginArray();
  for (const FileChange& file : result.files) {
    json.beginObject().key("path").value(file.path).key("change").value(file.change);
    json.key("size_before").value(file.sizeBefore).key("size_after").value(file.sizeAfter);
    json.endObject();
  }
  json.endArray().endObject();
  out << json.text();
}

}  // namespace

int simulateCommand(const CommandOptions& options, const CommandContext& context) {
  SimulationRequest request;
  request.root = options.operands[0];
  request.packages.assign(options.operands.begin() + 1, options.operands.end());
  request.streamFile = options.streamFile;
  request.installer = options.installer.empty() ? defaultInstaller() : options.installer;
  if (!request.streamFile.empty() && !request.packages.empty()) {
    return context.usage("simulate", "--stream takes no package files besides");
  }
  SimulationResult result;
  std::string error;
  if (!simulateRun(request, &result, &error)) return context.fail(error);
  if (options.json) {
    printJson(request.root, result, context.out);
  } else {
    printResult(result, context.out);
  }
  return result.status == 0 ? kExitSuccess : kExitFailure;
}
