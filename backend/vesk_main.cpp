// The back end program; see main_controller.h.
int main() { return 0; }
