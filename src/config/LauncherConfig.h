#pragma once
// The values of "launcher.cfg", read once at start-up and only read afterwards.

#include <string>
#include <vector>

namespace veltrano {

class LauncherConfig {
public:
    static LauncherConfig* instance();

    // Reads "launcher.cfg" from the launcher directory. True when it was read and its root is an
    // object. A member of another JSON type than expected is treated as absent.
    bool load();

    const std::string& ver_url() const { return ver_url_; }
    const std::string& ver_src_url() const { return ver_src_url_; }
    const std::string& game_url() const { return game_url_; }
    const std::string& game_src_url() const { return game_src_url_; }
    const std::string& game_dir() const { return game_dir_; }
    const std::string& game_exe_name() const { return game_exe_name_; }
    const std::string& parent_name() const { return parent_name_; }
    const std::string& launcher_name() const { return launcher_name_; }
    const std::string& launcher_icon() const { return launcher_icon_; }
    const std::string& report_url() const { return report_url_; }
    const std::string& app_name() const { return app_name_; }
    const std::string& app_id() const { return app_id_; }
    const std::string& main_channel() const { return main_channel_; }
    const std::string& font() const { return font_; }
    const std::string& web_url() const { return web_url_; }
    const std::vector<std::string>& downlaod_text() const { return downlaod_text_; }
    const std::string& logPath() const { return logPath_; }
    const std::string& error_text() const { return error_text_; }
    const std::string& process_data_type() const { return process_data_type_; }
    const std::string& process_data_msg() const { return process_data_msg_; }
    // TLS trust: an extra PEM bundle, and whether peers are verified at all.
    const std::string& ca_file() const { return ca_file_; }
    bool tls_verify() const { return tls_verify_; }

    int font_size() const { return font_size_; }
    int win_width() const { return win_width_; }
    int win_height() const { return win_height_; }
    int process_x() const { return process_x_; }
    int process_y() const { return process_y_; }
    int download_text_x() const { return download_text_x_; }
    int download_text_y() const { return download_text_y_; }
    int font_color_r() const { return font_color_r_; }
    int font_color_g() const { return font_color_g_; }
    int font_color_b() const { return font_color_b_; }
    int process_bg_width() const { return process_bg_width_; }
    int process_bg_height() const { return process_bg_height_; }
    int process_width() const { return process_width_; }
    int process_height() const { return process_height_; }
    int close_btn_x() const { return close_btn_x_; }
    int close_btn_y() const { return close_btn_y_; }
    int close_btn_width() const { return close_btn_width_; }
    int close_btn_height() const { return close_btn_height_; }
    int web_size_width() const { return web_size_width_; }
    int web_size_height() const { return web_size_height_; }
    int web_x() const { return web_x_; }
    int web_y() const { return web_y_; }

    // Back to the defaults, as before load (tests load several files in one process).
    void reset();

private:
    LauncherConfig() = default;

    std::string ver_url_, ver_src_url_, game_url_, game_src_url_, game_dir_, game_exe_name_;
    std::string parent_name_, launcher_name_, launcher_icon_, report_url_, app_name_, app_id_;
    std::string main_channel_, font_, web_url_;
    std::vector<std::string> downlaod_text_;
    std::string logPath_, error_text_, process_data_type_, process_data_msg_;
    std::string ca_file_;
    bool tls_verify_ = true;
    int font_size_ = 16, win_width_ = 1136, win_height_ = 640;
    int process_x_ = 0, process_y_ = 0, download_text_x_ = 0, download_text_y_ = 0;
    int font_color_r_ = 0, font_color_g_ = 0, font_color_b_ = 0;
    int process_bg_width_ = 0, process_bg_height_ = 0, process_width_ = 0, process_height_ = 0;
    int close_btn_x_ = 0, close_btn_y_ = 0, close_btn_width_ = 0, close_btn_height_ = 0;
    int web_size_width_ = 0, web_size_height_ = 0, web_x_ = 0, web_y_ = 0;
};

}  // namespace veltrano
