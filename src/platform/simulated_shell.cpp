namespace sim {
void ResetShell() {}
}  // namespace sim
