// Checks a report of an approved payment from the Kelvora TEF Server before the sales system trusts
// it: the Kelvora-Signature header ("t=<unix seconds>,v1=<hex HMAC-SHA-256>") must match the exact
// bytes received, keyed with the installation's jwt_secret, and be at most five minutes away from
// now; Kelvora-Event-Id names the report, the same on every retry of it. Java's standard library
// only.
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

public final class CallbackVerifier {
  // How far the signing time may be from the receiver's clock, either way.
  public static final long TOLERANCE_SECONDS = 5 * 60;

  // The reasons for a refusal, as the receiver answers them (the service logs them).
  public static final String NO_SIGNATURE = "Cabeçalho Kelvora-Signature ausente.";
  public static final String BAD_SIGNATURE_HEADER = "Cabeçalho Kelvora-Signature malformado.";
  public static final String BAD_EVENT_ID = "Cabeçalho Kelvora-Event-Id ausente ou inválido.";
  public static final String MISMATCH = "Assinatura não confere.";
  public static final String OUTSIDE_TOLERANCE = "Assinatura fora da tolerância de 5 minutos.";

  private static final Pattern TIME = Pattern.compile("[0-9]{1,15}");
  private static final Pattern HEX_SIGNATURE = Pattern.compile("[0-9a-fA-F]{64}");
  private static final Pattern EVENT_ID = Pattern.compile("[A-Za-z0-9._-]{1,64}");

  private CallbackVerifier() {}

  // The time (as signed) and the v1 signatures of a Kelvora-Signature header.
  record Signature(String time, List<byte[]> signatures) {}

  // The parts of a Kelvora-Signature header, or null when it is not one: exactly one "t" of decimal
  // digits, one or more "v1" of 64 hex digits; other schemes are left for later versions to use.
  static Signature parseSignatureHeader(String header) {
    String time = null;
    List<byte[]> signatures = new ArrayList<>();
    for (String item : header.split(",", -1)) {
      int at = item.indexOf('=');
      if (at < 0) return null;
      String key = item.substring(0, at);
      String value = item.substring(at + 1);
      if (key.equals("t")) {
        if (time != null || !TIME.matcher(value).matches()) return null;
        time = value;
      } else if (key.equals("v1")) {
        if (!HEX_SIGNATURE.matcher(value).matches()) return null;
        signatures.add(HexFormat.of().parseHex(value));
      }
    }
    return time != null && !signatures.isEmpty() ? new Signature(time, signatures) : null;
  }

  // An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
  public static boolean isValidEventId(String eventId) {
    return eventId != null && EVENT_ID.matcher(eventId).matches();
  }

  // The refusal reason for a report (rawBody: the bytes received, before any parsing), or null when
  // its signature is good. The body is never decoded here: a receiver that parsed and wrote it
  // again would sign other bytes than the service did.
  public static String check(String secret, byte[] rawBody, String signatureHeader, String eventId, long nowSeconds) {
    if (signatureHeader == null || signatureHeader.isEmpty()) return NO_SIGNATURE;
    Signature parsed = parseSignatureHeader(signatureHeader);
    if (parsed == null) return BAD_SIGNATURE_HEADER;
    if (!isValidEventId(eventId)) return BAD_EVENT_ID;
    byte[] prefix = (parsed.time() + ".").getBytes(StandardCharsets.US_ASCII);
    byte[] signed = new byte[prefix.length + rawBody.length];
    System.arraycopy(prefix, 0, signed, 0, prefix.length);
    System.arraycopy(rawBody, 0, signed, prefix.length, rawBody.length);
    byte[] expected = SessionToken.hmacSha256(secret, signed);
    // MessageDigest.isEqual takes as long wherever the bytes differ, so a forger learns nothing
    // from timing.
    if (parsed.signatures().stream().noneMatch(signature -> MessageDigest.isEqual(signature, expected))) {
      return MISMATCH;
    }
    if (Math.abs(nowSeconds - Long.parseLong(parsed.time())) > TOLERANCE_SECONDS) return OUTSIDE_TOLERANCE;
    return null;
  }

  public static String check(String secret, byte[] rawBody, String signatureHeader, String eventId) {
    return check(secret, rawBody, signatureHeader, eventId, System.currentTimeMillis() / 1000);
  }

  // What TakenReports.take says of a report: its payment id, and whether it was taken before.
  public record Taken(int paymentId, boolean repeated) {}

  // The reports taken so far, by event id, with the payment id each one was given. In memory for
  // the sample: a real sales system keeps the event id in its database, a unique key on the
  // payment it records, so that a retry after a restart is still known.
  public static final class TakenReports {
    private final Map<String, Integer> paymentIds = new HashMap<>();

    // The payment id of the report with this event id (a new one the first time), and whether the
    // report was taken before. Take only reports whose signature was good, or a forger could block
    // a real report by sending its id first.
    public synchronized Taken take(String eventId) {
      Integer earlier = paymentIds.get(eventId);
      if (earlier != null) return new Taken(earlier, true);
      int paymentId = 1000 + paymentIds.size();
      paymentIds.put(eventId, paymentId);
      return new Taken(paymentId, false);
    }
  }
}
