namespace sim {
void ResetRegistry() {}
}  // namespace sim
