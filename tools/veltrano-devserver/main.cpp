// veltrano-devserver: serves a folder on loopback for tests and demos. Static files with byte
// ranges, a collector for form posts, and faults that a test switches on while the server runs.
// See docs/devserver.md.

#include <fcntl.h>
#include <httplib.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Spawner.h"

namespace {

struct Rule {
    std::string path;   // empty: every path
    std::string range;  // prefix of the Range header value; empty: any request
    long times = -1;    // matching requests left; -1: unlimited
    long delayMs = 0;
    long rate = 0;         // body bytes per second; 0: unthrottled
    long resetAfter = -1;  // close the connection after this many body bytes
    int status = 0;
    std::string redirect;
    bool ignoreRange = false;
    long shortBy = 0;  // send this many bytes less, with a Content-Length that matches
};

struct Options {
    std::string root = ".";
    std::string host = "127.0.0.1";
    int port = 0;
    std::string reportsFile;
    std::string cert, key;
    std::string faults;
    bool verbose = false;
};

std::mutex g_mutex;
std::condition_variable g_faultsCleared;
uint64_t g_clearings = 0;  // guarded by g_mutex
std::vector<Rule> g_rules;
std::vector<std::string> g_requests;     // JSON lines
std::vector<std::string> g_reports;      // JSON lines
std::map<std::string, uint64_t> g_sent;  // body bytes handed to the network, by path
FILE* g_reportsFile = nullptr;
httplib::Server* g_server = nullptr;

std::string jsonLine(const std::vector<std::pair<std::string, std::string>>& strings,
                     const std::map<std::string, std::string>* fields) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [name, value] : strings) {
        writer.Key(name.c_str());
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    }
    if (fields) {
        writer.Key("fields");
        writer.StartObject();
        for (const auto& [name, value] : *fields) {
            writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
            writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
        }
        writer.EndObject();
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string formDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::map<std::string, std::string> parseForm(const std::string& body) {
    std::map<std::string, std::string> fields;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t amp = body.find('&', pos);
        if (amp == std::string::npos) amp = body.size();
        std::string pair = body.substr(pos, amp - pos);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            if (eq == std::string::npos)
                fields[formDecode(pair)] = "";
            else
                fields[formDecode(pair.substr(0, eq))] = formDecode(pair.substr(eq + 1));
        }
        pos = amp + 1;
    }
    return fields;
}

bool readRule(const rapidjson::Value& v, Rule* rule, std::string* error) {
    if (!v.IsObject()) {
        *error = "a fault rule must be a JSON object";
        return false;
    }
    for (auto it = v.MemberBegin(); it != v.MemberEnd(); ++it) {
        std::string name = it->name.GetString();
        const rapidjson::Value& value = it->value;
        auto number = [&](long* out) {
            if (!value.IsInt64()) return false;
            *out = static_cast<long>(value.GetInt64());
            return true;
        };
        bool ok = true;
        if (name == "path" && value.IsString())
            rule->path = value.GetString();
        else if (name == "range" && value.IsString())
            rule->range = value.GetString();
        else if (name == "redirect" && value.IsString())
            rule->redirect = value.GetString();
        else if (name == "ignore_range" && value.IsBool())
            rule->ignoreRange = value.GetBool();
        else if (name == "status" && value.IsInt())
            rule->status = value.GetInt();
        else if (name == "times")
            ok = number(&rule->times);
        else if (name == "delay_ms")
            ok = number(&rule->delayMs);
        else if (name == "rate")
            ok = number(&rule->rate);
        else if (name == "reset_after")
            ok = number(&rule->resetAfter);
        else if (name == "short_by")
            ok = number(&rule->shortBy);
        else
            ok = false;
        if (!ok) {
            *error = "bad fault field \"" + name + "\"";
            return false;
        }
    }
    return true;
}

// Accepts one rule object or an array of them; all or nothing.
bool addRules(const std::string& json, std::string* error) {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    if (doc.HasParseError()) {
        *error = "fault rules are not valid JSON";
        return false;
    }
    std::vector<Rule> rules;
    if (doc.IsArray()) {
        for (const auto& v : doc.GetArray()) {
            Rule r;
            if (!readRule(v, &r, error)) return false;
            rules.push_back(r);
        }
    } else {
        Rule r;
        if (!readRule(doc, &r, error)) return false;
        rules.push_back(r);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.insert(g_rules.end(), rules.begin(), rules.end());
    return true;
}

// Takes the first live rule matching the request and uses up one of its times.
std::optional<Rule> takeRule(const std::string& path, const std::string& range) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Rule& r : g_rules) {
        if (r.times == 0) continue;
        if (!r.path.empty() && r.path != path) continue;
        if (!r.range.empty() && range.compare(0, r.range.size(), r.range) != 0) continue;
        if (r.times > 0) --r.times;
        return r;
    }
    return std::nullopt;
}

void recordRequest(const httplib::Request& req, const std::string& range, int status) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("method");
    writer.String(req.method.c_str());
    writer.Key("path");
    writer.String(req.path.data(), static_cast<rapidjson::SizeType>(req.path.size()));
    writer.Key("range");
    writer.String(range.data(), static_cast<rapidjson::SizeType>(range.size()));
    writer.Key("status");
    writer.Int(status);
    writer.EndObject();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_requests.emplace_back(buffer.GetString(), buffer.GetSize());
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string contentType(const std::string& path) {
    static const std::map<std::string, std::string> types = {{".html", "text/html; charset=utf-8"},
                                                             {".htm", "text/html; charset=utf-8"},
                                                             {".js", "text/javascript"},
                                                             {".css", "text/css"},
                                                             {".json", "application/json"},
                                                             {".txt", "text/plain; charset=utf-8"},
                                                             {".png", "image/png"},
                                                             {".zip", "application/zip"}};
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        auto it = types.find(path.substr(dot));
        if (it != types.end()) return it->second;
    }
    return "application/octet-stream";
}

bool safePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t next = path.find('/', pos + 1);
        if (next == std::string::npos) next = path.size();
        if (path.compare(pos, next - pos, "/..") == 0) return false;
        pos = next;
    }
    return path.find('\0') == std::string::npos;
}

// "bytes=a-b", "bytes=a-" or "bytes=-n" against a file of size bytes. False for a form this
// server does not narrow (several ranges): the whole file is sent then.
enum class RangeResult { None, Ok, Unsatisfiable };
RangeResult parseRange(const std::string& header, uint64_t size, uint64_t* first, uint64_t* last) {
    if (header.empty()) return RangeResult::None;
    if (header.compare(0, 6, "bytes=") != 0 || header.find(',') != std::string::npos)
        return RangeResult::None;
    std::string byteRange = header.substr(6);
    size_t dash = byteRange.find('-');
    if (dash == std::string::npos) return RangeResult::None;
    std::string a = byteRange.substr(0, dash), b = byteRange.substr(dash + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() < 20 && std::all_of(s.begin(), s.end(), ::isdigit);
    };
    if (a.empty()) {
        if (!digits(b)) return RangeResult::None;
        uint64_t n = std::stoull(b);
        if (n == 0 || size == 0) return RangeResult::Unsatisfiable;
        *first = n >= size ? 0 : size - n;
        *last = size - 1;
        return RangeResult::Ok;
    }
    if (!digits(a) || (!b.empty() && !digits(b))) return RangeResult::None;
    *first = std::stoull(a);
    *last = b.empty() ? (size == 0 ? 0 : size - 1) : std::stoull(b);
    if (*first >= size || *last < *first) return RangeResult::Unsatisfiable;
    if (*last >= size) *last = size - 1;
    return RangeResult::Ok;
}

// A test holds an answer with a long delay and lets it go by clearing the faults.
void delay(long ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(g_mutex);
    const uint64_t seen = g_clearings;
    g_faultsCleared.wait_for(lock, std::chrono::milliseconds(ms), [&] { return g_clearings != seen; });
}

void serveFile(const Options& opts, const httplib::Request& req, httplib::Response& res) {
    // Ranges are answered here, so that faults can bend them.
    const_cast<httplib::Request&>(req).ranges.clear();
    std::string range = req.get_header_value("Range");
    std::optional<Rule> rule = takeRule(req.path, range);
    if (rule) delay(rule->delayMs);

    if (rule && !rule->redirect.empty()) {
        int status = rule->status ? rule->status : 301;
        res.status = status;
        res.set_header("Location", rule->redirect);
        res.set_content("moved\n", "text/plain");
        recordRequest(req, range, status);
        return;
    }
    if (rule && rule->status) {
        res.status = rule->status;
        res.set_content("fault " + std::to_string(rule->status) + "\n", "text/plain");
        recordRequest(req, range, rule->status);
        return;
    }

    std::string file = opts.root + (safePath(req.path) ? req.path : std::string("/\x01invalid"));
    struct stat st {};
    if (stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        file += (file.back() == '/' ? "" : "/") + std::string("index.html");
    }
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        res.status = 404;
        res.set_content("not found\n", "text/plain");
        recordRequest(req, range, 404);
        return;
    }
    auto handle = std::shared_ptr<int>(new int(fd), [](int* p) {
        close(*p);
        delete p;
    });
    uint64_t size = static_cast<uint64_t>(st.st_size);
    uint64_t first = 0, last = size == 0 ? 0 : size - 1;
    RangeResult rr = (rule && rule->ignoreRange) ? RangeResult::None : parseRange(range, size, &first, &last);
    if (rr == RangeResult::Unsatisfiable) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        res.set_content("range not satisfiable\n", "text/plain");
        recordRequest(req, range, 416);
        return;
    }
    uint64_t length = size == 0 ? 0 : last - first + 1;
    res.status = rr == RangeResult::Ok ? 206 : 200;
    if (rr == RangeResult::Ok) {
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                            std::to_string(size));
    }
    res.set_header("Accept-Ranges", "bytes");
    recordRequest(req, range, res.status);
    if (rule && rule->shortBy > 0) length -= std::min<uint64_t>(length, static_cast<uint64_t>(rule->shortBy));
    if (length == 0 && !(rule && rule->resetAfter >= 0)) {
        res.set_content("", contentType(file));
        return;
    }
    long rate = rule ? rule->rate : 0;
    long resetAfter = rule ? rule->resetAfter : -1;
    auto started = std::chrono::steady_clock::now();
    res.set_content_provider(
        std::max<uint64_t>(length, 1), contentType(file),
        [handle, first, length, rate, resetAfter, started, path = req.path](size_t offset, size_t,
                                                                            httplib::DataSink& sink) {
            if (resetAfter >= 0 && offset >= static_cast<size_t>(resetAfter)) return false;
            if (offset >= length) return false;
            size_t chunk = std::min<size_t>(65536, length - offset);
            if (rate > 0)
                chunk = std::min<size_t>(chunk, std::max<size_t>(1, static_cast<size_t>(rate) / 20));
            if (resetAfter >= 0) chunk = std::min<size_t>(chunk, static_cast<size_t>(resetAfter) - offset);
            std::vector<char> buf(chunk);
            ssize_t n = pread(*handle, buf.data(), chunk, static_cast<off_t>(first + offset));
            if (n <= 0) return false;
            if (rate > 0) {
                // Pace by the bytes already sent, so that the average holds whatever the chunk size.
                auto due = started + std::chrono::microseconds(static_cast<int64_t>(offset) * 1000000 / rate);
                std::this_thread::sleep_until(due);
            }
            if (!sink.write(buf.data(), static_cast<size_t>(n))) return false;
            std::lock_guard<std::mutex> lock(g_mutex);
            g_sent[path] += static_cast<uint64_t>(n);
            return true;
        });
}

void collectReport(const Options& opts, const httplib::Request& req, httplib::Response& res) {
    if (req.path.rfind("/__", 0) == 0) {
        res.status = 404;
        res.set_content("unknown control path\n", "text/plain");
        return;
    }
    std::optional<Rule> rule = takeRule(req.path, "");
    if (rule) delay(rule->delayMs);
    if (rule && rule->status) {
        res.status = rule->status;
        res.set_content("fault\n", "text/plain");
        recordRequest(req, "", rule->status);
        return;
    }
    auto fields = parseForm(req.body);
    std::string line = jsonLine(
        {{"path", req.path}, {"content_type", req.get_header_value("Content-Type")}, {"body", req.body}},
        &fields);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_reports.push_back(line);
        if (g_reportsFile) {
            std::fprintf(g_reportsFile, "%s\n", line.c_str());
            std::fflush(g_reportsFile);
        }
    }
    (void)opts;
    res.status = 200;
    res.set_content("ok", "text/plain");
    recordRequest(req, "", 200);
}

bool parseArgs(int argc, char** argv, Options* opts) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string port;
        bool ok = true;
        if (arg == "--root")
            ok = value(&opts->root);
        else if (arg == "--host")
            ok = value(&opts->host);
        else if (arg == "--port") {
            ok = value(&port);
            if (ok) {
                char* end = nullptr;
                long p = std::strtol(port.c_str(), &end, 10);
                ok = end && *end == 0 && p >= 0 && p <= 65535 && !port.empty();
                opts->port = static_cast<int>(p);
            }
        } else if (arg == "--reports")
            ok = value(&opts->reportsFile);
        else if (arg == "--cert")
            ok = value(&opts->cert);
        else if (arg == "--key")
            ok = value(&opts->key);
        else if (arg == "--faults")
            ok = value(&opts->faults);
        else if (arg == "--verbose")
            opts->verbose = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "veltrano-devserver: bad or incomplete option \"%s\"\n", arg.c_str());
            return false;
        }
    }
    if (opts->cert.empty() != opts->key.empty()) {
        std::fprintf(stderr, "veltrano-devserver: --cert and --key go together\n");
        return false;
    }
    return true;
}

// The library listens with a backlog of 5: ten ranges connecting at once would lose SYNs and wait
// a second for the retry. Listening again on the bound socket widens the queue.
template <typename Base>
class WideBacklog : public Base {
public:
    using Base::Base;
    void widenBacklog() { ::listen(this->svr_sock_.load(), 512); }
};

void onSignal(int) {
    if (g_server) g_server->stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--spawner") == 0) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        return runSpawner(n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]));
    }
    Options opts;
    if (!parseArgs(argc, argv, &opts)) {
        std::fprintf(stderr,
                     "usage: veltrano-devserver [--root DIR] [--host ADDR] [--port N] [--reports FILE]\n"
                     "                          [--cert PEM --key PEM] [--faults JSON] [--verbose]\n"
                     "       veltrano-devserver --spawner\n");
        return 2;
    }
    while (opts.root.size() > 1 && opts.root.back() == '/') opts.root.pop_back();
    std::string error;
    if (!opts.faults.empty() && !addRules(opts.faults, &error)) {
        std::fprintf(stderr, "veltrano-devserver: %s\n", error.c_str());
        return 2;
    }
    if (!opts.reportsFile.empty()) {
        g_reportsFile = std::fopen(opts.reportsFile.c_str(), "a");
        if (!g_reportsFile) {
            std::fprintf(stderr, "veltrano-devserver: cannot open %s\n", opts.reportsFile.c_str());
            return 2;
        }
    }

    std::unique_ptr<httplib::Server> server;
    std::function<void()> widenBacklog;
    bool tls = !opts.cert.empty();
    if (tls) {
        auto s = std::make_unique<WideBacklog<httplib::SSLServer>>(opts.cert.c_str(), opts.key.c_str());
        widenBacklog = [p = s.get()] { p->widenBacklog(); };
        server = std::move(s);
    } else {
        auto s = std::make_unique<WideBacklog<httplib::Server>>();
        widenBacklog = [p = s.get()] { p->widenBacklog(); };
        server = std::move(s);
    }
    if (!server->is_valid()) {
        std::fprintf(stderr, "veltrano-devserver: cannot use certificate %s and key %s\n", opts.cert.c_str(),
                     opts.key.c_str());
        return 2;
    }
    // Ten parallel ranges under a rate limit must not queue behind each other.
    server->new_task_queue = [] { return new httplib::ThreadPool(64); };
    server->set_payload_max_length(64 * 1024 * 1024);

    server->Get("/__health",
                [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    server->Get("/__requests", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(g_mutex);
        res.set_content(joinLines(g_requests), "application/x-ndjson");
    });
    server->Delete("/__requests", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_requests.clear();
        g_sent.clear();
        res.set_content("ok", "text/plain");
    });
    server->Get("/__sent", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::vector<std::string> lines;
        for (const auto& [path, bytes] : g_sent)
            lines.push_back(jsonLine({{"path", path}, {"bytes", std::to_string(bytes)}}, nullptr));
        res.set_content(joinLines(lines), "application/x-ndjson");
    });
    server->Get("/__reports", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(g_mutex);
        res.set_content(joinLines(g_reports), "application/x-ndjson");
    });
    server->Delete("/__reports", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_reports.clear();
        res.set_content("ok", "text/plain");
    });
    server->Post("/__faults", [](const httplib::Request& req, httplib::Response& res) {
        std::string err;
        if (addRules(req.body, &err)) {
            res.set_content("ok", "text/plain");
        } else {
            res.status = 400;
            res.set_content(err + "\n", "text/plain");
        }
    });
    server->Delete("/__faults", [](const httplib::Request&, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_rules.clear();
            ++g_clearings;
        }
        g_faultsCleared.notify_all();
        res.set_content("ok", "text/plain");
    });
    server->Get(".*",
                [&opts](const httplib::Request& req, httplib::Response& res) { serveFile(opts, req, res); });
    server->Post(".*", [&opts](const httplib::Request& req, httplib::Response& res) {
        collectReport(opts, req, res);
    });
    if (opts.verbose) {
        server->set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::fprintf(stderr, "%s %s %s -> %d\n", req.method.c_str(), req.path.c_str(),
                         req.get_header_value("Range").c_str(), res.status);
        });
    }

    int port = opts.port;
    if (port == 0) {
        port = server->bind_to_any_port(opts.host);
        if (port < 0) port = 0;
    } else if (!server->bind_to_port(opts.host, port)) {
        port = 0;
    }
    if (port == 0) {
        std::fprintf(stderr, "veltrano-devserver: cannot listen on %s\n", opts.host.c_str());
        return 1;
    }
    widenBacklog();
    g_server = server.get();
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    bool v6 = opts.host.find(':') != std::string::npos;
    std::printf("%s://%s%s%s:%d\n", tls ? "https" : "http", v6 ? "[" : "", opts.host.c_str(), v6 ? "]" : "",
                port);
    std::fflush(stdout);
    bool ok = server->listen_after_bind();
    g_server = nullptr;
    if (g_reportsFile) std::fclose(g_reportsFile);
    return ok ? 0 : 1;
}
