// Who is logged in: the service's session answer, plus the rights (lower-cased task codes) and
// the administrator flag of the public information class.
export const session = {
  user: '',
  userName: '',
  language: '',
  rights: new Set(),
  admin: false
};
