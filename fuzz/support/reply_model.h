// How a reply is cut into the pieces the line reader hands out (up to and including LF,
// at most 1023 bytes), and where its head ends: the fuzzers' independent view of a reply.
#pragma once
#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace qlan::fuzz {

struct Piece {
  std::size_t start = 0;
  std::size_t length = 0;
  bool endsLine = false;  // ends with LF
};

// Pieces from offset on, as receiveLine delivers them after a close.
inline std::vector<Piece> CutPieces(std::string_view reply, std::size_t offset) {
  constexpr std::size_t kMostPerPiece = 1023;
  std::vector<Piece> pieces;
  while (offset < reply.size()) {
    const std::size_t lf = reply.find('\n', offset);
    const std::size_t toEnd =
        lf == std::string_view::npos ? reply.size() - offset : lf - offset + 1;
    Piece piece{offset, std::min(toEnd, kMostPerPiece), false};
    piece.endsLine = reply[offset + piece.length - 1] == '\n';
    pieces.push_back(piece);
    offset += piece.length;
  }
  return pieces;
}

struct HeadModel {
  bool complete = false;      // a status piece and a piece shorter than 4 bytes after it
  std::size_t bodyStart = 0;  // offset just behind the head
  bool lengthLine = false;    // some head piece begins with "Content-Length:"
  bool plain = false;         // "HTTP/1.1 200 OK" and every head piece ends with LF
};

inline HeadModel ModelHead(std::string_view reply) {
  HeadModel head;
  const std::vector<Piece> pieces = CutPieces(reply, 0);
  if (pieces.empty()) return head;
  bool allLines = pieces[0].endsLine;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::string_view text = reply.substr(pieces[i].start, pieces[i].length);
    allLines = allLines && pieces[i].endsLine;
    if (text.substr(0, 15) == "Content-Length:") head.lengthLine = true;
    if (text.size() < 4) {
      head.complete = true;
      head.bodyStart = pieces[i].start + pieces[i].length;
      break;
    }
  }
  head.plain = head.complete && allLines && reply.substr(0, 15) == "HTTP/1.1 200 OK";
  return head;
}

}  // namespace qlan::fuzz
