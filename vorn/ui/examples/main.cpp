#include "vorn/ui/examples/example_app.h"

int main(int argc, char** argv) {
    vorn_ui::launch::run_or_exit(vorn_ui::example::example_record(), argc, argv);
}
