extern "C" int vorn_not_a_plugin() {
    return 0;
}
