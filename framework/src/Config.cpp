#include "Config.h"

#include "LogWriter.h"
#include "zo/ConfigFile.h"

#include <boost/property_tree/ini_parser.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <tuple>

namespace zo {
namespace {

using Path = boost::property_tree::ptree::path_type;

// A key or section name as one path element, whatever characters it holds.
Path Literal(const std::string& name) { return Path(name, '\0'); }

// Reports a malformed file once per version of it. During static
// initialisation (the default writer reads its level from here) there is no
// writer yet, so the line goes straight to standard error.
void ReportMalformed(const std::string& path, const std::string& reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;
    static std::mutex mutex;
    static std::set<std::tuple<std::string, long long, long long, long long>> reported;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto key = std::make_tuple(path, static_cast<long long>(st.st_size),
                                   static_cast<long long>(st.st_mtim.tv_sec),
                                   static_cast<long long>(st.st_mtim.tv_nsec));
        if (!reported.insert(key).second) return;
    }
    static const char* const kFunction = "zo::ReadConfig";
    boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
    if (writer) {
        if (writer->GetLevel() >= -1)
            writer->Write(-1, kFunction, __LINE__, 0, 0,
                          "configuration file %s is malformed and reads as empty: %s", path.c_str(),
                          reason.c_str());
        return;
    }
    std::string line = ZoFormat("zo: configuration file %s is malformed and reads as empty: %s\n",
                                path.c_str(), reason.c_str());
    ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
}

}  // namespace

std::string ConfigPath() {
    const char* env = std::getenv("ZO_CONFIG");
    if (env && *env) return env;
    return kDefaultConfigPath;
}

std::string ConfigFilePath() { return ConfigPath(); }

boost::property_tree::ptree ReadConfigFile(const std::string& path, std::string* error) {
    boost::property_tree::ptree tree;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) return tree;
    try {
        boost::property_tree::ini_parser::read_ini(in, tree);
    } catch (const boost::property_tree::ini_parser_error& e) {
        if (error) *error = "line " + std::to_string(e.line()) + ": " + e.message();
        return boost::property_tree::ptree();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return boost::property_tree::ptree();
    }
    return tree;
}

boost::property_tree::ptree ReadConfig(std::string* malformed) {
    const std::string path = ConfigPath();
    std::string error;
    boost::property_tree::ptree tree = ReadConfigFile(path, &error);
    if (!error.empty()) ReportMalformed(path, error);
    if (malformed) *malformed = error;
    return tree;
}

bool ReadConfigSectionStrictly(const std::string& path, const std::string& section, bool mustExist,
                               std::vector<std::pair<std::string, std::string>>& entries, std::string& error) {
    entries.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT && !mustExist) return true;
    if (::access(path.c_str(), R_OK) != 0) {
        error = "configuration file " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::string malformed;
    const boost::property_tree::ptree tree = ReadConfigFile(path, &malformed);
    if (!malformed.empty()) {
        error = "configuration file " + path + " is malformed, " + malformed;
        return false;
    }
    for (const auto& child : tree) {
        if (child.second.empty()) {
            error = "configuration file " + path + " is malformed: key \"" + child.first + "\" stands before any [section]";
            return false;
        }
    }
    entries = ConfigSection(tree, section);
    return true;
}

bool ConfigValue(const boost::property_tree::ptree& config, const std::string& section,
                 const std::string& key, std::string& value) {
    auto sectionTree = config.get_child_optional(Literal(section));
    if (!sectionTree) return false;
    auto found = sectionTree->get_child_optional(Literal(key));
    if (!found) return false;
    value = found->data();
    return true;
}

bool ConfigValue(const std::string& section, const std::string& key, std::string& value) {
    return ConfigValue(ReadConfig(), section, key, value);
}

std::vector<std::pair<std::string, std::string>> ConfigSection(const boost::property_tree::ptree& config,
                                                               const std::string& section) {
    std::vector<std::pair<std::string, std::string>> entries;
    auto sectionTree = config.get_child_optional(Literal(section));
    if (!sectionTree) return entries;
    for (const auto& child : *sectionTree) entries.emplace_back(child.first, child.second.data());
    return entries;
}

std::vector<std::pair<std::string, std::string>> ConfigSection(const std::string& section) {
    return ConfigSection(ReadConfig(), section);
}

}  // namespace zo
