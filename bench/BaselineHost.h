#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quorvex::bench {

// The least a host can do to run the loader's exchanges: blocking reads and writes on the
// line, the same pauses as the programmer, nothing else (no port classes, no operator, no
// file). What quorvex-cli takes beyond this host, measured beside it on the same paced line,
// is what the product costs.
class BaselineHost {
 public:
  BaselineHost() = default;
  ~BaselineHost();
  BaselineHost(const BaselineHost&) = delete;
  BaselineHost& operator=(const BaselineHost&) = delete;

  // Opens the line raw and blocking; false with *error set when it cannot.
  bool Open(const std::string& path, std::string* error);
  // The programming run into sector `sector` (1..64): check, read and write the information
  // block, erase, initialise, 512 blocks, finish. False with *error set on any bad reply.
  bool Program(const std::array<std::uint8_t, 65'536>& firmware,
               const std::array<std::uint8_t, 64>& block, int sector, std::string* error);
  // The check, then the information block of every sector.
  bool List(std::string* error);

 private:
  bool Send(std::initializer_list<std::uint8_t> payload);
  bool WriteAll(const std::uint8_t* data, std::size_t count);
  // The reply frame's payload length, its payload in reply_; 0 on failure.
  unsigned Receive();
  bool Exchange(std::initializer_list<std::uint8_t> payload, unsigned needed, std::string* error);
  bool ReadBlock(int sector, std::string* error);

  int fd_ = -1;
  std::array<std::uint8_t, 256> reply_{};
};

}  // namespace quorvex::bench
