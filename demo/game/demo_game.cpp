// The demo game: shows what the launcher handed over (player id, game token, callback info) and
// records it in "launch.txt" in its working folder, so a script can check the hand-over.
// Built by demo/run.sh; with GTK available and a display it opens a small window.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#ifdef DEMO_GAME_GTK
#include <gtk/gtk.h>
#endif

namespace {

struct Launch {
    std::string workdir, uid, gametoken, cbinfo;
    std::vector<std::string> args;
};

Launch readArguments(int argc, char** argv) {
    Launch launch;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        launch.args.push_back(arg);
        if (arg == "-workdir" && i + 1 < argc) {
            launch.workdir = argv[i + 1];
        } else if (arg.rfind("-uid:", 0) == 0) {
            launch.uid = arg.substr(5);
        } else if (arg.rfind("-gametoken:", 0) == 0) {
            launch.gametoken = arg.substr(11);
        } else if (arg.rfind("-cbinfo:", 0) == 0) {
            launch.cbinfo = arg.substr(8);
        }
    }
    return launch;
}

std::string base64Decode(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        value = (value << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

void record(const Launch& launch) {
    const std::string dir = launch.workdir.empty() ? std::string(".") : launch.workdir;
    const std::string path = dir + "/launch.txt";
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "pid=" << getpid() << "\n"
            << "uid=" << launch.uid << "\n"
            << "gametoken=" << launch.gametoken << "\n"
            << "login=" << base64Decode(launch.gametoken) << "\n"
            << "cbinfo=" << launch.cbinfo << "\n";
        for (const std::string& arg : launch.args) out << "arg=" << arg << "\n";
    }
    // Readers see the whole record or none.
    std::rename(temp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const Launch launch = readArguments(argc, argv);
    record(launch);
    std::printf(
        "Emberfall (demo game) started\n  player id:     %s\n  callback info: %s\n  game token:    %s\n"
        "  login message: %s\n",
        launch.uid.c_str(), launch.cbinfo.c_str(), launch.gametoken.c_str(),
        base64Decode(launch.gametoken).c_str());
    std::fflush(stdout);
#ifdef DEMO_GAME_GTK
    if (getenv("DISPLAY") && gtk_init_check(&argc, &argv)) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), "Emberfall");
        gtk_window_set_default_size(GTK_WINDOW(window), 520, 260);
        gtk_container_set_border_width(GTK_CONTAINER(window), 24);
        const std::string login = base64Decode(launch.gametoken);
        gchar* markup = g_markup_printf_escaped(
            "<span size='x-large' weight='bold'>Welcome to Emberfall</span>\n\n"
            "Player id: <tt>%s</tt>\nCallback info: <tt>%s</tt>\nLogin message: <tt>%s</tt>\n\n"
            "<small>This is the demo game. Close the window to end it.</small>",
            launch.uid.c_str(), launch.cbinfo.c_str(), login.c_str());
        GtkWidget* label = gtk_label_new(nullptr);
        gtk_label_set_markup(GTK_LABEL(label), markup);
        gtk_label_set_selectable(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        g_free(markup);
        gtk_container_add(GTK_CONTAINER(window), label);
        g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
        gtk_widget_show_all(window);
        gtk_main();
    }
#endif
    return 0;
}
