#include "config/LauncherConfig.h"

#include "config/Json.h"
#include "config/Log.h"
#include "platform/FileUtils.h"

namespace veltrano {

namespace {

using Value = rapidjson::Value;

// A member of another JSON type than expected counts as absent.
void readText(const Value& root, const char* key, std::string* field) {
    auto it = root.FindMember(key);
    if (it != root.MemberEnd() && it->value.IsString())
        field->assign(it->value.GetString(), it->value.GetStringLength());
}

void readNumber(const Value& root, const char* key, int* field) {
    auto it = root.FindMember(key);
    if (it != root.MemberEnd() && it->value.IsInt()) *field = it->value.GetInt();
}

}  // namespace

LauncherConfig* LauncherConfig::instance() {
    static LauncherConfig* shared = new LauncherConfig();
    return shared;
}

void LauncherConfig::reset() {
    *this = LauncherConfig();
}

bool LauncherConfig::load() {
    FileUtils* files = FileUtils::instance();
    if (!files) return false;
    const std::string dir = files->launcherDirectory();
    const std::string path = dir + "/launcher.cfg";
    if (!files->fileExists(path)) return false;

    const std::string text = files->readText(path);
    rapidjson::Document doc;
    if (!parseJson(text, &doc) || !doc.IsObject()) return false;

    readText(doc, "game_url", &game_url_);
    readText(doc, "game_src_url", &game_src_url_);
    readText(doc, "ver_url", &ver_url_);
    readText(doc, "ver_src_url", &ver_src_url_);
    readText(doc, "game_dir", &game_dir_);
    readText(doc, "game_exe_name", &game_exe_name_);
    readText(doc, "launcher_name", &launcher_name_);
    readText(doc, "launcher_icon", &launcher_icon_);
    readText(doc, "report_url", &report_url_);
    readText(doc, "app_id", &app_id_);
    readText(doc, "main_channel", &main_channel_);
    readText(doc, "app_name", &app_name_);
    readText(doc, "font", &font_);
    readNumber(doc, "win_width", &win_width_);
    readNumber(doc, "win_height", &win_height_);
    readNumber(doc, "process_bg_height", &process_bg_height_);
    readNumber(doc, "process_bg_width", &process_bg_width_);
    readNumber(doc, "process_height", &process_height_);
    readNumber(doc, "process_width", &process_width_);
    readNumber(doc, "download_text_x", &download_text_x_);
    readNumber(doc, "download_text_y", &download_text_y_);
    readNumber(doc, "process_x", &process_x_);
    readNumber(doc, "process_y", &process_y_);
    readNumber(doc, "web_x", &web_x_);
    readNumber(doc, "web_y", &web_y_);
    readNumber(doc, "close_btn_x", &close_btn_x_);
    readNumber(doc, "close_btn_y", &close_btn_y_);
    readNumber(doc, "close_btn_width", &close_btn_width_);
    readNumber(doc, "close_btn_height", &close_btn_height_);
    readNumber(doc, "web_size_width", &web_size_width_);
    readNumber(doc, "web_size_height", &web_size_height_);
    readNumber(doc, "font_color_r", &font_color_r_);
    readNumber(doc, "font_color_g", &font_color_g_);
    readNumber(doc, "font_color_b", &font_color_b_);
    readNumber(doc, "font_size", &font_size_);
    readText(doc, "web_url", &web_url_);

    logPath_ = dir + "/Veltrano.log";
    auto logName = doc.FindMember("log_name");
    if (logName != doc.MemberEnd() && logName->value.IsString())
        logPath_ = dir + "/" + std::string(logName->value.GetString(), logName->value.GetStringLength());

    auto list = doc.FindMember("downlaod_text");
    if (list != doc.MemberEnd() && list->value.IsArray()) {
        for (const auto& item : list->value.GetArray()) {
            if (item.IsString()) downlaod_text_.emplace_back(item.GetString(), item.GetStringLength());
        }
    }

    readText(doc, "error_text", &error_text_);
    readText(doc, "process_data_type", &process_data_type_);
    readText(doc, "process_data_msg", &process_data_msg_);
    readText(doc, "parent_name", &parent_name_);

    readText(doc, "ca_file", &ca_file_);
    auto verify = doc.FindMember("tls_verify");
    if (verify != doc.MemberEnd() && verify->value.IsBool()) tls_verify_ = verify->value.GetBool();
    if (!tls_verify_) writeLog("tls_verify is off: server certificates are not checked");
    return true;
}

}  // namespace veltrano
