#include "cli/commands.h"

namespace vg::cli {

int run_decode(int argc, char** argv);
int run_sim(int argc, char** argv);
int run_tile(int argc, char** argv);
int run_fetch(int argc, char** argv);
int run_gif(int argc, char** argv);
int run_get(int argc, char** argv);
int run_post(int argc, char** argv);
int run_serve(int argc, char** argv);

int run_setting(int argc, char** argv);
int run_state(int argc, char** argv);

int run_render(int argc, char** argv);
int run_gpx(int argc, char** argv);
int run_pack(int argc, char** argv);

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
        {"render", run_render},
        {"setting", run_setting},
        {"state", run_state},
        {"decode", run_decode},
        {"sim", run_sim},
        {"tile", run_tile},
        {"fetch", run_fetch},
        {"gif", run_gif},
        {"get", run_get},
        {"post", run_post},
        {"serve", run_serve},
        {"gpx", run_gpx},
        {"pack", run_pack},
    };
    return table;
}

}  // namespace vg::cli
