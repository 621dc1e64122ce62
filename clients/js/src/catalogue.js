// Every error text the service can send to a page, mapped to a stable code, what it means and
// what the page should do. The service's texts are Portuguese and may change wording over time;
// the codes do not, so pages branch on the code and show the text.

// Who can fix it: the operator at the till, the integrator's code, or whoever runs the service.
const OPERATOR = 'operator';
const INTEGRATOR = 'integrator';
const SUPPORT = 'support';

// The entries, each matched by exact texts, text prefixes or patterns (a computed part of a text
// is matched by the pattern).
export const ERROR_CATALOGUE = [
  {
    code: 'FIELD_MISSING',
    patterns: [/^Campo (.+) nao encontrado\.$/s],
    meaning: 'A request or a prompt answer lacks a required member (the text names it).',
    action: 'A fault in the page: send the member. The library always sends them.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'TYPE_MISMATCH',
    texts: [
      'Campo type diferente de session.',
      'Campo type diferente de initialize.',
      'Campo type diferente de pinpad.',
      'Campo type diferente de version.',
      'O campo type diferente de transaction',
      'Configuração de entrada inválida: type diferente de "session".',
      'Campo type diferente de status.',
    ],
    meaning: 'The request\'s "type" does not belong to its "route".',
    action: 'A fault in the page: send the type the route expects.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'REQUEST_INVALID',
    texts: ['Configuração de entrada inválida.', 'Os dados recebidos são inválidos.', 'Invalid class typecast'],
    patterns: [/^\[json\.exception\./],
    meaning: 'The request is not a JSON object the service can read.',
    action: 'A fault in the page: send one JSON object per message.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'VALUE_INVALID',
    patterns: [/^'.*' is not a valid (integer|floating point) value$/s],
    meaning: 'A number in the request (operation, sale, amount, instalments) cannot be read.',
    action: 'Check the amount and the numbers sent; amounts use a comma before the cents ("10,50").',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'SESSION_DATA_INVALID',
    texts: ['Dados de sessão inválidos.'],
    meaning: 'The session token cannot be taken apart, or the session could not be created.',
    action: 'Ask the sales system for a new token and start the session again.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'UNAUTHORIZED',
    texts: ['Acesso não autorizado.'],
    meaning: 'The session token\'s signature does not match, or the token has expired, is not valid yet, or carries an oversized claim.',
    action: 'Ask the sales system for a new token; if it keeps failing, the sales system and the service do not share the same secret.',
    fixedBy: SUPPORT,
  },
  {
    code: 'SALE_ID_MISSING',
    texts: ['ID de venda não informado.'],
    meaning: 'The session token carries no sale id above zero.',
    action: 'The sales system must sign a token for a real sale.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'CALLBACK_URL_MISSING',
    texts: ['URL de callback não informada.'],
    meaning: 'The session token carries no sales API address.',
    action: 'The sales system must put its API address in the token.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'CALLBACK_URL_INVALID',
    texts: ['URL de callback inválida.'],
    meaning: 'The sales API address in the session token is not one the service will call.',
    action: 'The sales system must put a valid http(s) address of its API in the token.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'SESSION_INVALID',
    texts: ['Sessão inválida.'],
    meaning: 'The service knows no session by that id (finished, expired earlier, or the service restarted).',
    action: 'Start a new session with a new token, then repeat the request.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'SESSION_EXPIRED',
    texts: ['Sessão expirada.'],
    meaning: 'The session passed its 30 minutes; the service has dropped it.',
    action: 'Start a new session with a new token, then repeat the request. The library renews sessions before they expire.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'SESSION_FINISH_FAILED',
    prefixes: ['Erro ao finalizar sessão: '],
    meaning: 'The session could not be finished.',
    action: 'Nothing to do at the till: the session expires by itself.',
    fixedBy: SUPPORT,
  },
  {
    code: 'IDEMPOTENCY_KEY_INVALID',
    texts: ['O campo "idempotency_key" deve ter de 1 a 64 caracteres: letras, dígitos, "_" ou "-".'],
    meaning: 'The operation\'s idempotency key is empty, longer than 64 characters, or holds other characters than letters, digits, "_" and "-".',
    action: 'A fault in the page: make keys with newIdempotencyKey(), or leave them to the library.',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'STATUS_FILTER_MISSING',
    texts: ['Informe o campo "idempotency_key" ou "sale_id".'],
    meaning: 'A status query names neither an idempotency key nor a sale.',
    action: 'A fault in the page: pass idempotencyKey or saleId to status().',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'JOURNAL_UNAVAILABLE',
    prefixes: ['Não foi possível registrar a operação no diário: '],
    meaning: 'The service could not record the operation in its journal, so it did not start it: nothing was charged.',
    action: 'Show the text; support checks the disk and the service\'s log folder, then try again.',
    fixedBy: SUPPORT,
  },
  {
    code: 'TEF_CONNECTION_FAILED',
    prefixes: ['Erro ao conectar com servidor TEF'],
    meaning: 'The SiTef library could not be started or could not reach the SiTef server.',
    action: 'Show the text; check the network and the SiTef server, then try again.',
    fixedBy: SUPPORT,
  },
  {
    code: 'SITEF_CONFIGURATION_INVALID',
    texts: [
      'Endereço IP inválido ou não resolvido',
      'Código da loja inválido',
      'Código de terminal inválido',
      'Erro na inicialização do TCP/IP',
      'Falta de memória',
      'Não encontrou a dll do "TEF" ou ela está com problemas',
      'O PinPad não está devidamente configurado no arquivo CliSiTef.ini',
      'Dados inválidos passados pela automação.',
      'Modo seguro não ativo (possível falta de configuração no servidor SiTef do arquivo .cha).',
      'Caminho da DLL inválido (o caminho completo das bibliotecas está muito grande).',
    ],
    patterns: [/^Erro ao carregar a função:.* de: /s, /^Erro ao iniciar "TEF"$/],
    meaning: 'The SiTef library\'s reason for refusing the point of sale\'s configuration (server address, store, terminal, pin-pad) or the loader\'s: written to the TEF log; the page gets TEF_CONNECTION_FAILED (or PINPAD_CHECK_FAILED) instead.',
    action: 'Show the text; the store\'s configuration or installation must be corrected before payments can run.',
    fixedBy: SUPPORT,
  },
  {
    code: 'SITEF_NOT_INITIALIZED',
    texts: ['SiTef não inicializado.', 'Nenhum Gerenciador Padrão selecionado'],
    patterns: [/^Gerenciador Padrão: .* não foi inicializado$/s],
    meaning: 'The SiTef library is not initialised, so no transaction can start.',
    action: 'Call initialize() and show its error if it fails; then try again.',
    fixedBy: SUPPORT,
  },
  {
    code: 'PINPAD_CHECK_FAILED',
    prefixes: ['Erro ao verificar pinpad: '],
    meaning: 'The pin-pad or version query failed inside the SiTef library.',
    action: 'Show the text; check the pin-pad cable and the library installation.',
    fixedBy: SUPPORT,
  },
  {
    code: 'VERSION_CATEGORY_INVALID',
    texts: ['Categoria inválida. Valores permitidos [service_exe, clisitef_dll]'],
    meaning: 'The version query named a category the service does not know.',
    action: 'A fault in the page: ask for "service_exe" or "clisitef_dll".',
    fixedBy: INTEGRATOR,
  },
  {
    code: 'CANCELLATION_NSU_MISSING',
    texts: ['O campo "cancellation_nsu" não foi preenchido.'],
    meaning: 'A cancellation of an earlier payment names no NSU.',
    action: 'Ask the operator for the NSU printed on the payment\'s receipt.',
    fixedBy: OPERATOR,
  },
  {
    code: 'TRANSACTION_DATE_MISSING',
    texts: ['O campo "transaction_date" não foi preenchido.'],
    meaning: 'A cancellation of an earlier payment names no date.',
    action: 'Ask the operator for the payment\'s date.',
    fixedBy: OPERATOR,
  },
  {
    code: 'TRANSACTION_DATE_INVALID',
    texts: ['O campo "transaction_date" não foi preenchido corretamente.'],
    meaning: 'The date of the payment to cancel is not year-month-day (optionally with hh:mm:ss).',
    action: 'Send the date as 2024-01-05 or 2024-01-05 10:30:00.',
    fixedBy: OPERATOR,
  },
  {
    code: 'AMOUNT_INVALID',
    texts: ['Valor inválido'],
    prefixes: ['Operação TEF permite Troco Máximo de R$ ', 'Multiplos Cartões Limitado a '],
    meaning: 'The SiTef component refused the amount (zero or negative, change above the limit, too many cards).',
    action: 'Ask the operator to correct the amount.',
    fixedBy: OPERATOR,
  },
  {
    code: 'TEF_BUSY',
    texts: ['Requisição anterior não concluida', 'Nenhuma Requisição Iniciada'],
    meaning: 'The SiTef component is still in the middle of another request.',
    action: 'Wait for the running payment to end, then try again.',
    fixedBy: OPERATOR,
  },
  {
    code: 'SALES_API_FAILED',
    prefixes: ['Request Error '],
    meaning: 'The service could not reach the sales system\'s API to report an approved payment.',
    action: 'The payment may have been approved: check the sales system before charging again.',
    fixedBy: SUPPORT,
  },
  {
    code: 'TEF_COMPONENT_ERROR',
    texts: [
      'ECF não está LIVRE',
      'Impressão de Relatório Falhou',
      'CNC nao efetuado',
      'CliSiTef não pode ser ativado localmente',
      'Valor mínimo de EsperaSleep deve ser: 10',
      'Valor máximo de EsperaSleep deve ser: 500',
      'PathBackup não pode ser modificado com o KoCliSiTef Inicializado',
    ],
    prefixes: [
      'Retorno de "OnInfoEcf( ineEstadoECF, Retorno )" deve ser:',
      'Erro na conversão do Valor Retornado de: OnInfoECF( ',
      'Existem Respostas Pendentes. Não é possível alterar "',
      'Diretório de Backup não existente:',
      'Não há número livre para um novo arquivo de backup',
      'Erro ao apagar o arquivo:',
      'Arquivo: \r\n',
      'Evento "',
      'Resposta de ',
    ],
    meaning: 'The TEF component failed while running the transaction (printer state, backup files, library answer).',
    action: 'Show the text; the payment did not complete. Check the sales system, then try again; report repeated failures.',
    fixedBy: SUPPORT,
  },
  {
    code: 'INTERNAL_ERROR',
    texts: [
      'WriteJson: value has no JSON text',
      'A gateway needs a response record',
      'An object list cannot hold an empty item',
    ],
    prefixes: [
      'Cannot create directory ',
      'Invalid report event id: ',
      'List index out of bounds (',
      'A field-file line cannot hold a line break',
      'The given "',
    ],
    meaning: 'A fault inside the service that a page cannot cause.',
    action: 'Show the text and report it with the service log; check the sales system before charging again.',
    fixedBy: SUPPORT,
  },
];

// The "status" of a finished transaction's "result" message and its code.
export const RESULT_CODES = {
  approved: 'APPROVED',
  unauthorized: 'NOT_AUTHORIZED',
  canceled: 'CANCELED',
  interrupted: 'INTERRUPTED',
};

// The errors the library raises itself, with the texts it shows.
export const CLIENT_ERRORS = {
  BUSY: 'Outra operação está em andamento.',
  NOT_CONNECTED: 'Sem conexão com o serviço de pagamento.',
  CONNECTION_LOST: 'A conexão com o serviço de pagamento caiu.',
  NO_REPLY: 'O serviço de pagamento não respondeu a tempo.',
  CLOSED: 'A conexão com o serviço de pagamento foi encerrada.',
  HANDLER_FAILED: 'A operação foi interrompida por uma falha na página.',
  TILL_BUSY: 'Outra operação está em andamento no terminal de pagamento.',
  ORIGIN_REFUSED: 'O serviço de pagamento não aceita conexões desta página.',
  CERTIFICATE_UNTRUSTED: 'O certificado do serviço de pagamento não é confiável neste computador.',
  HANDSHAKE_FAILED: 'A conexão com o serviço de pagamento é recusada antes de abrir.',
};

// The service's refusals of a session start that another try with the same token cannot mend.
export const SESSION_REFUSALS = new Set([
  'UNAUTHORIZED', 'SESSION_DATA_INVALID', 'SALE_ID_MISSING', 'CALLBACK_URL_MISSING', 'CALLBACK_URL_INVALID',
]);

// The catalogue entry of a text the service sent; undefined for a text it does not hold.
export function catalogueEntry(text) {
  return ERROR_CATALOGUE.find((entry) => (entry.texts ?? []).includes(text)
    || (entry.prefixes ?? []).some((prefix) => text.startsWith(prefix))
    || (entry.patterns ?? []).some((pattern) => pattern.test(text)));
}
