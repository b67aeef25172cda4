// kestrow's reader session: a secured R/W with mutual authentication,
// sealed commands and answers, and a transaction counter.
#pragma once

#include <cstdint>

#include "link/cmd.h"

namespace secure {

class CDesCard : public CCmd {
 public:
  // Opens the port (or throws, as CComm does). The session fields start as
  // zero bytes, DES protection on.
  CDesCard(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize, std::uint8_t parity,
           std::uint8_t stopBits, std::int32_t responseTimeoutMs, std::int32_t ackTimeoutMs,
           std::int32_t queueSize);
  ~CDesCard() override;

  void SetPlainMode(bool plain) { plainMode = plain; }

  // Mutual authentication with the keys Ka and Kb: 0 success, else the
  // result of the failed exchange (255 for a wrong answer).
  int Authenticate(const std::uint8_t *ka, const std::uint8_t *kb);
  int GetReaderId(std::uint8_t *readerIdOut);
  int VerifyReader(const std::uint8_t *readerId, std::uint8_t *keyOut, const std::uint8_t *ka,
                   const std::uint8_t *kb);
  int ConfirmSessionKey(const std::uint8_t *readerId, std::uint8_t *sessionKey,
                        const std::uint8_t *ka, const std::uint8_t *kb);

  // Secure messaging on buffers whose byte 0 is the length.
  void SealCommand(const std::uint8_t *key, std::uint8_t *command);
  std::uint8_t *OpenResponse(const std::uint8_t *key, std::uint8_t *response);
  // Advances the transaction counter, then compares it with the two bytes
  // (low byte first). 1 equal; 0 not, with three lines on standard error.
  int CheckTransactionId(const std::uint8_t *counterBytes);

  // One polling attempt: 0 a card answered (its data kept in CardId and
  // CardParameters), 2 no card, else an error. cardIdOut is not written.
  int PollCard(std::uint8_t timeSlot, std::uint8_t *cardIdOut);
  // Ends the secured session: 0 success, else an error.
  int CloseSession();

  const std::uint8_t *GetCardId() const { return CardId; }
  const std::uint8_t *GetCardParameters() const { return CardParameters; }
  const std::uint8_t *GetTransactionId() const { return TransactionId; }
  const std::uint8_t *GetSessionKey() const { return SessionKey; }
  bool IsPlainMode() const { return plainMode; }

 private:
  void AdvanceCounterForCommand();
  // Writes one authentication step to the event log; returns its result.
  int LogStep(const char *step, int result) const;
  // How many bytes from byte 1 on an opened answer really carries: the
  // length byte in plain mode, the code byte and the data blocks (not the
  // MAC block) when sealed.
  int OpenedLength(const std::uint8_t *response) const;
  int Exchange(const std::uint8_t *command, std::uint8_t *response);

  std::uint8_t CardId[8];
  std::uint8_t CardParameters[8];
  std::uint8_t TransactionId[8];
  std::uint8_t SessionKey[8];
  bool plainMode;
};

}  // namespace secure
